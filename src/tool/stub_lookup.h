// Which stub `sfx pack` puts in front of the payload.
//
// --stub PATH wins. Otherwise, for the host target: $SFX_STUB, then
// sfx-stub beside the sfx executable, then ../lib/sfxkit/sfx-stub (an
// installation), then the build tree's ../app/sfx-stub. For the win32
// target: $SFX_STUB_WIN32, then sfx-stub.exe beside sfx, then
// ../share/sfxkit/sfx-stub.exe (an installation), then the cross build made
// inside this build tree (build/<this>/win32-stub), then the one next to it
// (build/<this>/src/tool -> build/win32/src/app/sfx-stub.exe). A variable
// that is set is used alone: a wrong value is an error.
#pragma once

#include <string>
#include <vector>

namespace sfx::tool {

// The stub's path, or a ToolError naming every place tried.
std::string FindStub(const std::string& target, const std::string& explicitPath);

// The folder of the running sfx executable.
std::string ExecutableFolder();

}  // namespace sfx::tool

// The whole payload as the stub opens it: the bytes are written as
// "Data.bin" in a module directory and CInstaller::OpenPayload reads them,
// the code path of a stub whose locator holds no offset. A payload the stub
// accepts must also load in the tool's reader with the same counts, and its
// component 0 must name only items and entries that exist.
#include <sys/stat.h>

#include <string>

#include "framework/exceptions.h"
#include "fuzz_support.h"
#include "install/installer.h"
#include "pack/setup_reader.h"
#include "payload/catalogue.h"
#include "platform/host/prefix.h"

namespace {

const std::string& ModuleDir() {
  static const std::string dir = [] {
    sfx::fuzz::EnsurePrefix();
    std::string host = sfx::fuzz::ScratchDir() + "/module";
    mkdir(host.c_str(), 0755);
    return host;
  }();
  return dir;
}

}  // namespace

SFX_FUZZ_TARGET(open_payload) {
  using namespace sfx::fuzz;
  const std::string& dir = ModuleDir();
  WriteHostFile(dir + "/Data.bin", data, size);

  CInstaller engine;
  engine.m_strModuleDir = (sfx::host::MapToWindows(dir) + "\\").c_str();
  bool opened = true;
  try {
    engine.OpenPayload();
  } catch (CArchiveException* e) {
    e->Delete();
    opened = false;
  } catch (CFileException* e) {
    e->Delete();
    opened = false;
  } catch (CMemoryException* e) {
    e->Delete();
    opened = false;
  }
  if (!opened) return 0;

  const CBuildItems& project = *engine.m_pProject;
  const int items = project.m_arrItems.GetSize();
  const int entries = engine.m_arrFileTable.GetSize();
  FUZZ_CHECK(project.m_arrComponents.GetSize() >= 1, "accepted a catalogue without component 0");
  const CDWordArray& list = static_cast<const CIndexArray*>(project.m_arrComponents[0])->m_dwIndices;
  for (int k = 0; k < list.GetSize(); ++k)
    FUZZ_CHECK(list[k] < (DWORD)items && list[k] < (DWORD)entries, "component 0 names a missing item");

  sfx::pack::LoadedPayload loaded;
  try {
    loaded = sfx::pack::LoadPayload(data, size);
  } catch (const sfx::pack::ReadError& e) {
    FUZZ_CHECK(false, std::string("the stub accepts a payload the tool refuses: ") + e.what());
  }
  FUZZ_CHECK(loaded.files.size() == (size_t)entries, "tool and stub load different file tables");
  FUZZ_CHECK(loaded.project.items.size() == (size_t)items, "tool and stub load different item lists");
  return 0;
}

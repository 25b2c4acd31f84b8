// Running the built sfx tool (and the stub) as child processes, with
// captured output, for the tool's tests.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/payload_builder.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace sfx::tooltest {

// What the tool's tests share: JSON output, folders, files and payloads.
namespace fs = std::filesystem;
using nlohmann::json;
using sfx::test::CatalogueBuilder;
using sfx::test::Lines;
using sfx::test::ListTree;
using sfx::test::ReadFile;
using sfx::test::TempDir;
using sfx::test::TestFile;
using sfx::test::WriteFile;

using RunResult = sfx::test::Finished;

// Runs program with args; env holds "NAME=value" entries added to (or
// replacing in) this process's environment. Waits at most timeoutMs.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& env = {}, int timeoutMs = 120000);

// Runs the built sfx.
RunResult Sfx(const std::vector<std::string>& args, const std::vector<std::string>& env = {});

std::string ToolPath();
std::string StubPath();

// Writes a setup executable from a payload into dir; returns its path.
std::string WriteSetup(const pack::Bytes& payload, const std::string& dir, const std::string& name = "setup");

}  // namespace sfx::tooltest

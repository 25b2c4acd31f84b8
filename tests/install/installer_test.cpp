// The engine's construction and destruction.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "install/installer.h"
#include "payload/catalogue.h"
#include "support/temp_dir.h"

namespace {

using sfx::test::ScopedPrefix;

std::string ModulePath() {
  char buf[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, buf, MAX_PATH);
  return buf;
}

TEST(CInstaller, ConstructionRecordsTheModuleDirectoryAndFamily) {
  ScopedPrefix prefix;
  const std::string module = ModulePath();
  ASSERT_NE(module.rfind('\\'), std::string::npos);
  for (const char* family : {"", "95"}) {
    SCOPED_TRACE(family);
    setenv("SFX_WINVER", family, 1);
    CInstaller engine;
    unsetenv("SFX_WINVER");
    ASSERT_NE(engine.m_pProject, nullptr);
    EXPECT_EQ(engine.m_pProject->m_arrItems.GetSize(), 0);
    EXPECT_EQ(engine.m_nPlatformIndex, 1);
    EXPECT_EQ(engine.m_bWinNT, *family == 0 ? 1 : 0);
    EXPECT_FALSE(engine.m_filePayload.IsOpen());
    EXPECT_EQ(engine.m_arrFileTable.GetSize(), 0);
    EXPECT_EQ(std::string(engine.m_strModuleDir), module.substr(0, module.rfind('\\') + 1));
  }
}

TEST(CInstaller, DestructionReleasesWhatTheEngineOwns) {
  ScopedPrefix prefix;
  sfx::test::WriteFile(prefix.Host("C:\\payload.bin"), "bytes");
  CInstaller* engine = new CInstaller;
  // A loaded engine: an open payload, file-table entries and project items.
  ASSERT_TRUE(engine->m_filePayload.Open("C:\\payload.bin", CFile::modeRead));
  for (int i = 0; i < 3; ++i) engine->m_arrFileTable.Add(new CCompFileInfo);
  engine->m_pProject->m_arrItems.Add(new CBuildItem);
  delete engine;  // the leak checker sees anything left behind

  // The payload's handle is gone: an exclusive open succeeds.
  CFile again;
  EXPECT_TRUE(again.Open("C:\\payload.bin", CFile::modeRead | CFile::shareExclusive));
}

TEST(CInstaller, DestroyingAnUnloadedEngineIsHarmless) {
  ScopedPrefix prefix;
  CInstaller engine;
  delete engine.m_pProject;
  engine.m_pProject = nullptr;  // a project pointer that is not set
}

}  // namespace

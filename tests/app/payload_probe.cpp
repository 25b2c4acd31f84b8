// A test program built from the engine's own libraries: it opens the
// payload the way the setup stub does (through its own PayloadLocator and
// its own path), prints what it loaded and, asked to, extracts every entry.
// Tests append payloads to copies of it and run them as child processes, so
// the locator is read from a real executable file.
//
//   payload_probe                 print the catalogue
//   payload_probe extract DIR\    also extract every entry into DIR\ (a
//                                 Windows path) and print the removal log
//
// Exit status 0 on success, 3 when the engine threw a framework exception
// (its message is printed after "error: ").
#include <cstdio>
#include <cstring>
#include <string>

#include "inflate/extract_file.h"
#include "install/installer.h"
#include "payload/catalogue.h"
#include "support/catalogue_text.h"

namespace {

int Run(CInstaller& engine, int argc, char** argv) {
  engine.OpenPayload();
  printf("module-dir: %s\n", engine.m_strModuleDir.GetString());
  std::string text = sfx::test::DescribeLoaded(engine.m_arrFileTable, *engine.m_pProject);
  fwrite(text.data(), 1, text.size(), stdout);
  if (argc >= 3 && strcmp(argv[1], "extract") == 0) {
    CString strDir = argv[2];
    for (int i = 0; i < engine.m_arrFileTable.GetSize(); ++i)
      ExtractFile(&engine.m_filePayload, static_cast<CCompFileInfo*>(engine.m_arrFileTable.GetAt(i)),
                  strDir, &RemovalLog());
    fwrite(RemovalLog().GetText(), 1, (size_t)RemovalLog().GetLength(), stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CInstaller* pEngine = new CInstaller;
  int nResult = 0;
  try {
    nResult = Run(*pEngine, argc, argv);
  } catch (CException* e) {
    printf("error: %s\n", e->GetErrorMessage().GetString());
    e->Delete();
    nResult = 3;
  }
  delete pEngine;
  fflush(stdout);
  return nResult;
}

// CWinApp and AfxWinMain: the start-up order, the quit code, the name taken
// from the executable, the wait cursor.
#include "framework/winapp.h"

#include <gtest/gtest.h>

#include "framework/string_table.h"

#include <unistd.h>

#include <climits>
#include <string>

namespace {

// Records what the framework called, and in which order.
class CTestApp : public CWinApp {
 public:
  explicit CTestApp(const char* lpszAppName = nullptr, BOOL bInitResult = TRUE)
      : CWinApp(lpszAppName), m_bInitResult(bInitResult) {}

  BOOL InitInstance() override {
    m_strCalls += "Init;";
    m_strNameSeenInInit = AfxGetAppName();
    // A code left behind by the run must not become the exit code.
    m_nExitCode = 5;
    return m_bInitResult;
  }
  int Run() override {
    m_strCalls += "Run;";
    return CWinApp::Run();
  }
  int ExitInstance() override {
    m_strCalls += "Exit;";
    return CWinApp::ExitInstance();
  }

  BOOL m_bInitResult;
  std::string m_strCalls;
  std::string m_strNameSeenInInit;
};

// The host's executable name without its directory and extension.
std::string ExecutableBaseName() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  std::string s(path, (size_t)n);
  s = s.substr(s.rfind('/') + 1);
  size_t dot = s.rfind('.');
  return dot == std::string::npos ? s : s.substr(0, dot);
}

TEST(WinAppTest, InitInstanceOnceThenRunWithNoMainWindowQuitsWithZero) {
  CTestApp app;
  EXPECT_EQ(AfxGetApp(), &app);
  EXPECT_EQ(AfxWinMain(), 0);
  EXPECT_EQ(app.m_strCalls, "Init;Run;Exit;");
}

TEST(WinAppTest, FailedInitInstanceEndsWithExitInstance) {
  CTestApp app(nullptr, FALSE);
  EXPECT_EQ(AfxWinMain(), 5);  // ExitInstance's code; Run never starts
  EXPECT_EQ(app.m_strCalls, "Init;Exit;");
}

// The name: the one given, else the string table's title, else the
// executable's name without its extension; known by InitInstance.
TEST(WinAppTest, NameIsTheGivenOneElseTheTitleElseTheExecutables) {
  static const AFX_STRING_ENTRY kTitle[] = {{AFX_IDS_APP_TITLE, "Titled Setup"}};
  const std::string exe = ExecutableBaseName();
  ASSERT_FALSE(exe.empty());
  const struct {
    const char* given;
    bool title;
    std::string name;
  } cases[] = {{nullptr, false, exe}, {nullptr, true, "Titled Setup"}, {"Setup", true, "Setup"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AfxSetStringTable(c.title ? kTitle : nullptr, c.title ? 1 : 0);
    CTestApp app(c.given);
    if (c.given == nullptr) {
      EXPECT_STREQ(AfxGetAppName(), "");  // no name before the start
    }
    AfxWinMain();
    AfxSetStringTable(nullptr, 0);
    EXPECT_EQ(app.m_strNameSeenInInit, c.name);
    EXPECT_EQ(std::string(AfxGetAppName()), c.name);
    EXPECT_EQ(std::string(app.m_pszAppName), c.name);
  }
}

TEST(WinAppTest, NoApplicationObject) {
  EXPECT_EQ(AfxGetApp(), nullptr);
  EXPECT_STREQ(AfxGetAppName(), "");
  EXPECT_NE(AfxWinMain(), 0);
  {
    CTestApp app;
  }
  EXPECT_EQ(AfxGetApp(), nullptr);  // a destroyed application unregisters
}

TEST(WinAppTest, WaitCursorBalance) {
  CTestApp app("Setup");
  HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
  SetCursor(arrow);
  app.BeginWaitCursor();
  app.BeginWaitCursor();  // nested
  EXPECT_EQ(SetCursor(wait), wait);
  app.EndWaitCursor();
  EXPECT_EQ(SetCursor(wait), wait);  // still one level open
  app.EndWaitCursor();
  EXPECT_EQ(SetCursor(arrow), arrow);  // restored at the last level
  app.EndWaitCursor();                 // one too many: no effect
  EXPECT_EQ(SetCursor(arrow), arrow);
  EXPECT_TRUE(app.Enable3dControlsStatic());
}

}  // namespace

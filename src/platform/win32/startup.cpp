// The process start-up of the Win32 stub, in place of the C runtime's.
//
// The stub is linked without the C runtime DLL, whose start-up code would
// otherwise need it loaded before any code of ours runs. The system enters
// at SfxProcessStart (the linker's entry symbol), which does what that code
// did for a GUI program: the static constructors (among them crtbegin's
// registration of the unwind tables on i686), WinMain with the arguments the
// system gives, the functions registered with atexit (the static
// destructors among them), and ExitProcess with WinMain's result.
#include "platform/platform.h"

#include <stdlib.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

namespace {

typedef void(__cdecl* ExitFunction)(void);

// The functions registered with atexit, run last first when WinMain returns.
ExitFunction* g_pExitFunctions = nullptr;
int g_nExitFunctions = 0;
int g_nExitCapacity = 0;

// The destructors of thread-local keys that the C++ runtime creates, run
// for the values of the one thread at exit.
struct KeyDestructor {
  DWORD dwKey;
  void(__cdecl* pfn)(void*);
  KeyDestructor* pNext;
};
KeyDestructor* g_pKeyDestructors = nullptr;

void RunExitFunctions() {
  // A function may register another; it then runs next.
  while (g_nExitFunctions > 0) g_pExitFunctions[--g_nExitFunctions]();
  for (KeyDestructor* p = g_pKeyDestructors; p != nullptr; p = p->pNext) {
    void* pValue = TlsGetValue(p->dwKey);
    if (pValue != nullptr) p->pfn(pValue);
  }
}

// The program's arguments: the command line after the program's name and
// the blanks that follow it. A quoted name ends at its closing quote. The
// quote and the blank never occur as the second byte of a double-byte
// character, so a byte scan is right in every code page.
LPSTR CommandTail(LPSTR pszLine) {
  if (pszLine == nullptr) return const_cast<LPSTR>("");
  char* p = pszLine;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while ((unsigned char)*p > ' ') ++p;
  }
  while (*p != '\0' && (unsigned char)*p <= ' ') ++p;
  return p;
}

#ifdef __SEH__
// With table-based unwinding a C++ throw is a system exception. One that no
// frame catches reaches the process's last filter; continuing it makes the
// throw return to the C++ runtime, which then calls std::terminate, as it
// does on i686. Left alone, the system would end the process as crashed.
LONG WINAPI ContinueUncaughtThrow(EXCEPTION_POINTERS* pInfo) {
  const DWORD kGccExceptionMask = 0x20FFFFFF;  // the kind of throw left out
  const DWORD kGccException = 0x20000000 | ('G' << 16) | ('C' << 8) | 'C';
  const EXCEPTION_RECORD* pRecord = pInfo->ExceptionRecord;
  if ((pRecord->ExceptionCode & kGccExceptionMask) == kGccException &&
      (pRecord->ExceptionFlags & EXCEPTION_NONCONTINUABLE) == 0)
    return EXCEPTION_CONTINUE_EXECUTION;
  return EXCEPTION_CONTINUE_SEARCH;
}
#endif

}  // namespace

extern "C" {

// Read by the C++ runtime and the unwinder: whether other threads may run
// C++ code at the same time, so that their shared state needs locks. The
// stub runs on one thread from start to end.
int _CRT_MT = 0;

int __mingwthr_key_dtor(DWORD dwKey, void(__cdecl* pfn)(void*)) {
  if (pfn == nullptr) return 0;
  auto* p = static_cast<KeyDestructor*>(malloc(sizeof(KeyDestructor)));
  if (p == nullptr) return -1;
  *p = KeyDestructor{dwKey, pfn, g_pKeyDestructors};
  g_pKeyDestructors = p;
  return 0;
}

// Bounds of the static constructor and destructor tables, set by the linker:
// a first entry of -1, the functions, then a null entry.
extern ExitFunction __CTOR_LIST__[];
extern ExitFunction __DTOR_LIST__[];

int __cdecl atexit(ExitFunction pfn) {
  if (pfn == nullptr) return -1;
  if (g_nExitFunctions == g_nExitCapacity) {
    int nCapacity = g_nExitCapacity == 0 ? 32 : g_nExitCapacity * 2;
    void* p = realloc(g_pExitFunctions, (size_t)nCapacity * sizeof(ExitFunction));
    if (p == nullptr) return -1;
    g_pExitFunctions = static_cast<ExitFunction*>(p);
    g_nExitCapacity = nCapacity;
  }
  g_pExitFunctions[g_nExitFunctions++] = pfn;
  return 0;
}

static void __cdecl RunStaticDestructors() {
  for (ExitFunction* p = __DTOR_LIST__ + 1; *p != nullptr; ++p) (*p)();
}

// Runs the static constructors once, last entry first (the linker puts the
// higher priorities at the end), and registers the destructors to run at
// exit. GCC calls it from main; the start-up calls it before WinMain.
void __main() {
  static bool s_bDone = false;
  if (s_bDone) return;
  s_bDone = true;
  int n = 0;
  while (__CTOR_LIST__[n + 1] != nullptr) ++n;
  for (; n > 0; --n) __CTOR_LIST__[n]();
  atexit(RunStaticDestructors);
}

#ifdef __i386__
// The system may enter with the stack aligned to 4 bytes only.
__attribute__((force_align_arg_pointer))
#endif
__attribute__((noreturn)) void SfxProcessStart() {
  // Before anything else: a constructor may already load a library.
  SfxRestrictLibrarySearch();
#ifdef __SEH__
  SetUnhandledExceptionFilter(ContinueUncaughtThrow);
#endif
  __main();
  STARTUPINFOA si;
  si.cb = sizeof si;
  GetStartupInfoA(&si);
  int nShowCmd = (si.dwFlags & STARTF_USESHOWWINDOW) != 0 ? si.wShowWindow : SW_SHOWDEFAULT;
  int nResult = WinMain(GetModuleHandleA(nullptr), nullptr, CommandTail(GetCommandLineA()), nShowCmd);
  RunExitFunctions();
  ExitProcess((UINT)nResult);
}

}  // extern "C"

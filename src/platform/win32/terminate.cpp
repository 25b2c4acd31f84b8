// The stub's terminate handler.
//
// The C++ runtime's default handler prints the type of the uncaught exception
// and to do so links a full symbol demangler and the C library's formatted
// output, which together weigh more than the rest of the stub. A setup program
// has no console to print to, so defining the handler here keeps that code out
// of the executable: the linker takes this definition and never loads the
// runtime's own.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

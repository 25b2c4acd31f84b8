// The C++ runtime's per-thread exception state, for a single-threaded stub.
//
// The runtime keeps the stack of caught exceptions and the count of uncaught
// ones in a record that __cxa_get_globals returns. Its own version keeps one
// record per thread through emulated thread-local storage and the threads
// layer, which the stub, running on one thread from start to end, has no use
// for. Defining both entry points here (the record's layout is the one of the
// C++ ABI) keeps that machinery out of the executable.
namespace __cxxabiv1 {

struct __cxa_exception;

struct __cxa_eh_globals {
  __cxa_exception* caughtExceptions;
  unsigned int uncaughtExceptions;
};

namespace {
__cxa_eh_globals g_ehGlobals;
}  // namespace

extern "C" __cxa_eh_globals* __cxa_get_globals() noexcept { return &g_ehGlobals; }
extern "C" __cxa_eh_globals* __cxa_get_globals_fast() noexcept { return &g_ehGlobals; }

}  // namespace __cxxabiv1

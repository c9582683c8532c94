// How the C++ run-time's own failures end kou3upd.exe; linked into the exe only.
//
// The program catches no exception, so a failure inside the library (a string past its maximum
// length, an index out of range) can only end in std::terminate. These definitions take the place
// of the run-time's and end the process at once with 3, the code abort() gives: msvcrt's abort()
// shows a "Runtime Error" box in a program without a console, which would wait for a click. The
// exe no longer carries the exception classes, their message strings, and the demangler that the
// default terminate handler uses to print the exception's type to a console the program does not
// have: about a fifth of its size. A failed operator new still throws std::bad_alloc as before.
#include <cstdlib>

#include "host/win.h"

namespace {

[[noreturn]] void endAtOnce() {
  TerminateProcess(GetCurrentProcess(), 3);
  // Not reached: a process that ends itself does not come back from the call.
  std::abort();
}

}  // namespace

namespace __gnu_cxx {

void __verbose_terminate_handler() { endAtOnce(); }

}  // namespace __gnu_cxx

// All of them, so that the library's own file of them is never linked in beside these.
namespace std {

void __throw_bad_exception() { endAtOnce(); }
void __throw_bad_alloc() { endAtOnce(); }
void __throw_bad_array_new_length() { endAtOnce(); }
void __throw_bad_cast() { endAtOnce(); }
void __throw_bad_typeid() { endAtOnce(); }
void __throw_logic_error(const char*) { endAtOnce(); }
void __throw_domain_error(const char*) { endAtOnce(); }
void __throw_invalid_argument(const char*) { endAtOnce(); }
void __throw_length_error(const char*) { endAtOnce(); }
void __throw_out_of_range(const char*) { endAtOnce(); }
void __throw_out_of_range_fmt(const char*, ...) { endAtOnce(); }
void __throw_runtime_error(const char*) { endAtOnce(); }
void __throw_range_error(const char*) { endAtOnce(); }
void __throw_overflow_error(const char*) { endAtOnce(); }
void __throw_underflow_error(const char*) { endAtOnce(); }

}  // namespace std

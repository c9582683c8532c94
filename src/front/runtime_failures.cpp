// How the C++ run-time's own failures end kou3upd.exe; linked into the exe only.
//
// The program catches no exception, so a failure inside the library (a string past its maximum
// length, an index out of range) can only end in std::terminate and abort(). These definitions
// take the place of the run-time's and call abort() at once. That ending is the same, but the
// exe no longer carries the exception classes, their message strings, and the demangler that the
// default terminate handler uses to print the exception's type to a console the program does not
// have: about a fifth of its size. A failed operator new still throws std::bad_alloc as before.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

// All of them, so that the library's own file of them is never linked in beside these.
namespace std {

void __throw_bad_exception() { std::abort(); }
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_bad_cast() { std::abort(); }
void __throw_bad_typeid() { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_domain_error(const char*) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_runtime_error(const char*) { std::abort(); }
void __throw_range_error(const char*) { std::abort(); }
void __throw_overflow_error(const char*) { std::abort(); }
void __throw_underflow_error(const char*) { std::abort(); }

}  // namespace std

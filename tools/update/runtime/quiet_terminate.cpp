// MinGW only. The GNU runtime's default terminate handler names the
// uncaught exception on stderr, which a windowed program does not have, and
// for that carries a whole C++ name demangler (about 45 KiB of the
// updater). Defining the handler here keeps the library's out of the link;
// the program still ends as std::terminate ends it.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

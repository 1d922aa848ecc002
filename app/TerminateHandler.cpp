// libstdc++'s default terminate handler prints the demangled type of the
// exception to stderr, which a GUI program does not have, and brings the
// whole demangler with it (about 80 KB of the exe). A program that reaches
// terminate only needs to end.

#if defined(__GLIBCXX__)
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
} // namespace __gnu_cxx
#endif

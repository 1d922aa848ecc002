// libstdc++'s default terminate handler prints the demangled type of the
// exception to stderr, which a GUI program does not have, and brings the
// whole demangler with it (about 50 KB of the exe). A program that reaches
// terminate only needs to end.

#include <cstdlib> // defines __GLIBCXX__ when the library is libstdc++

#if defined(__GLIBCXX__)
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
} // namespace __gnu_cxx
#endif

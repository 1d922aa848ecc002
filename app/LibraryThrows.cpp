// libstdc++ reports a misused container (a string longer than it can ever
// be, a position past its end) through these functions. Its own versions
// build std::logic_error around a copy-on-write std::string, which brings
// that whole string class, a formatter and the random device into the exe
// (about 60 KB). Here each throws std::bad_alloc instead: the program's only
// handler catches every exception as a failed allocation, which is what an
// impossible length amounts to, and anywhere else the program ends as it
// would have.

#include <cstdlib> // defines __GLIBCXX__ when the library is libstdc++

#if defined(__GLIBCXX__)
#include <new>

namespace std {

void __throw_bad_alloc()
{
    throw std::bad_alloc();
}

void __throw_bad_array_new_length()
{
    throw std::bad_alloc();
}

void __throw_length_error(const char*)
{
    throw std::bad_alloc();
}

void __throw_logic_error(const char*)
{
    throw std::bad_alloc();
}

void __throw_out_of_range(const char*)
{
    throw std::bad_alloc();
}

void __throw_out_of_range_fmt(const char*, ...)
{
    throw std::bad_alloc();
}

void __throw_invalid_argument(const char*)
{
    throw std::bad_alloc();
}

} // namespace std
#endif

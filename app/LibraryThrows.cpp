// What the loader does when memory or a container fails it. The program is
// built without exceptions: the C++ library's unwinder, with the thread
// library it needs, was about 70 KB of the exe. Memory that cannot be had,
// or a container asked for more than it can ever hold, ends the program, as
// an uncaught exception did; the buffers whose size a server decides are
// asked for with std::nothrow, and their failure is handled.
//
// The end is silent: the C runtime's abort() shows a "Runtime Error" message
// box in a program with windows, which would hold an unattended install
// open. The partial download left behind is continued or started over by
// the next run, as after any other kill.
//
// The allocation functions replace the standard ones, as the language
// allows: libstdc++'s own throw std::bad_alloc, and its forms that must not
// throw catch it. libstdc++ reports a misused container (a string longer
// than it can ever be, a position past its end) through the __throw_
// functions; its own versions build exceptions around a copy-on-write
// std::string, which brings that whole string class into the exe.

#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void EndWithoutMemory()
{
    // No exit handlers either: another thread may hold a lock they need.
    // Terminating the own process does not return.
    ::TerminateProcess(::GetCurrentProcess(), ERROR_NOT_ENOUGH_MEMORY);
    std::abort();
}

} // namespace

void* operator new(std::size_t size)
{
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    EndWithoutMemory();
}

void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
// The array forms release through these.
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

#if defined(__GLIBCXX__)
namespace std {
void __throw_bad_alloc() { EndWithoutMemory(); }
void __throw_bad_array_new_length() { EndWithoutMemory(); }
void __throw_length_error(const char*) { EndWithoutMemory(); }
void __throw_logic_error(const char*) { EndWithoutMemory(); }
void __throw_out_of_range(const char*) { EndWithoutMemory(); }
void __throw_out_of_range_fmt(const char*, ...) { EndWithoutMemory(); }
void __throw_invalid_argument(const char*) { EndWithoutMemory(); }
} // namespace std
#endif

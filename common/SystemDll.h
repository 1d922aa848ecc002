#pragma once
// Functions of the system DLLs that the loader does not link at start
// (wininet, gdiplus, comctl32, wintrust, crypt32), bound at their first call
// from the DLL loaded by its full path in the system folder. The loader is
// usually started from a Downloads folder, where a web page may have dropped
// a DLL named like one of these; linked at start, it would be searched for
// beside the program first.
//
// Not the linker's delay-loading: its helper writes each address into the
// import table at run time, and linkers place that table in a section that
// current binutils (2.44) makes read-only, so the first call faults. Here
// the addresses are ordinary writable data.

#include <windows.h>

#include <atomic>
#include <utility>

#include "common/WideString.h"

// A DLL from the system folder by its full path; its own dependencies are
// looked for there first as well. Null when it cannot be loaded.
inline HMODULE LoadSystemDll(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    WideString path(folder, length);
    if (path.back() != L'\\')
        path += L'\\';
    path += name;
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Loads the DLL a function comes from (LoadSystemDll with its name, as a
// rule); null when it cannot be loaded.
using DllLoader = HMODULE (*)();

// The address of name in the DLL load gives. Every one of these DLLs and
// functions exists from Windows 7 on: where one is missing, the system is
// broken past what the loader could work around, and the process ends with
// the platform's code for it, as a failed start would.
inline FARPROC BindSystemFunction(DllLoader load, const char* name)
{
    // Loading a module that is loaded already only counts a reference.
    const HMODULE module = load();
    if (!module)
        ::ExitProcess(ERROR_MOD_NOT_FOUND);
    const FARPROC function = ::GetProcAddress(module, name);
    if (!function)
        ::ExitProcess(ERROR_PROC_NOT_FOUND);
    return function;
}

// One function of a system DLL, called like the function itself. Objects are
// constant-initialised (no constructor runs at start) and may be called from
// any thread: two first calls at once bind the same address twice.
template <typename Function>
class SystemFunction {
public:
    constexpr SystemFunction(DllLoader load, const char* name) noexcept : load_(load), name_(name) {}
    SystemFunction(const SystemFunction&) = delete;
    SystemFunction& operator=(const SystemFunction&) = delete;

    template <typename... Args>
    decltype(auto) operator()(Args&&... args)
    {
        return Bound()(std::forward<Args>(args)...);
    }

    // The function's address, for callers that keep it.
    Function* Bound()
    {
        FARPROC function = bound_.load(std::memory_order_acquire);
        if (!function) {
            function = BindSystemFunction(load_, name_);
            bound_.store(function, std::memory_order_release);
        }
        // The detour through a function pointer without parameters is the
        // conversion both compilers accept without a warning.
        return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(function));
    }

private:
    const DllLoader load_;
    const char* const name_;
    std::atomic<FARPROC> bound_{nullptr};
};

// KOVRA_SYSTEM_FUNCTION(scope, name): the SystemFunction called name, of the type
// the SDK declares for scope::name (an empty scope: a global function), bound
// through the Load() of the namespace it stands in.
#define KOVRA_SYSTEM_FUNCTION(scope, name) inline SystemFunction<decltype(scope::name)> name{Load, #name}

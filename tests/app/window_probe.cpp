// Looks at the loader's window from another process, as a person would see
// it, and prints what it finds, one "key=value" line each (UTF-8):
//   window_probe find <timeoutMs>          the loader window's handle, once shown
//                                          (only windows of live processes)
//   window_probe none <timeoutMs>          waits until no loader window is left
//   window_probe first-visible <timeoutMs> the system time (Unix ms) at which any
//                                          visible layered window first shows
//   window_probe info <hwnd>               visible, iconic, text, rect, bar position,
//                                          each control's client rectangle and the
//                                          name a screen reader gets (oleacc)
//   window_probe watch <hwnd> <ms>         every change of text or bar position
//   window_probe gone <hwnd> <timeoutMs>   waits until the window no longer exists

#include "common/UniqueHandle.h"

#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const int kProgressBarId = 1009;
const int kControlIds[] = {1016, 1017, kProgressBarId};

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[512] = {};
    ::GetWindowTextW(window, text, 512);
    return text;
}

int BarPosition(HWND window)
{
    HWND bar = ::GetDlgItem(window, kProgressBarId);
    return bar ? static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0)) : -1;
}

// The name a screen reader is told: that of the accessible object oleacc
// makes for the control's window.
std::wstring AccessibleName(HWND control)
{
    IAccessible* accessible = nullptr;
    BSTR name = nullptr;
    if (SUCCEEDED(::AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                               reinterpret_cast<void**>(&accessible)))) {
        VARIANT self{};
        self.vt = VT_I4; // lVal 0: CHILDID_SELF
        accessible->get_accName(self, &name);
        accessible->Release();
    }
    std::wstring text = name ? std::wstring(name, ::SysStringLen(name)) : std::wstring();
    ::SysFreeString(name);
    return text;
}

// A window of a process that has been ended can outlive it for a moment.
bool OwnerAlive(HWND window)
{
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId));
    return process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

BOOL CALLBACK FindLoader(HWND window, LPARAM found)
{
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    const LONG_PTR exStyle = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
    if (std::wcscmp(className, L"#32770") == 0 && (exStyle & WS_EX_LAYERED) && ::GetDlgItem(window, kProgressBarId) &&
        OwnerAlive(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindLayered(HWND window, LPARAM found)
{
    if ((::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_LAYERED) && ::IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

unsigned long long UnixMilliseconds()
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - 116444736000000000ull) / 10000;
}

HWND ParseWindow(const wchar_t* text)
{
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::wcstoull(text, nullptr, 10)));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    const std::wstring command = argv[1];
    if (command == L"find") {
        const ULONGLONG deadline = ::GetTickCount64() + std::wcstoul(argv[2], nullptr, 10);
        do {
            HWND found = nullptr;
            ::EnumWindows(FindLoader, reinterpret_cast<LPARAM>(&found));
            if (found && ::IsWindowVisible(found)) {
                std::printf("hwnd=%llu\n", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(found)));
                return 0;
            }
            ::Sleep(50);
        } while (::GetTickCount64() < deadline);
        return 1;
    }
    if (command == L"first-visible") {
        const ULONGLONG deadline = ::GetTickCount64() + std::wcstoul(argv[2], nullptr, 10);
        std::printf("ready=%llu\n", UnixMilliseconds());
        std::fflush(stdout);
        do {
            HWND found = nullptr;
            ::EnumWindows(FindLayered, reinterpret_cast<LPARAM>(&found));
            if (found) {
                std::printf("visible=%llu\n", UnixMilliseconds());
                return 0;
            }
            ::Sleep(1);
        } while (::GetTickCount64() < deadline);
        return 1;
    }
    if (command == L"none") {
        const ULONGLONG deadline = ::GetTickCount64() + std::wcstoul(argv[2], nullptr, 10);
        for (;;) {
            HWND found = nullptr;
            ::EnumWindows(FindLoader, reinterpret_cast<LPARAM>(&found));
            if (!found)
                return 0;
            if (::GetTickCount64() > deadline)
                return 1;
            ::Sleep(50);
        }
    }
    HWND window = ParseWindow(argv[2]);
    if (command == L"info") {
        if (!::IsWindow(window)) {
            std::printf("exists=0\n");
            return 0;
        }
        RECT rect{};
        ::GetWindowRect(window, &rect);
        std::printf("exists=1\nvisible=%d\niconic=%d\ntext=%s\nrect=%ld,%ld,%ld,%ld\nbar=%d\n",
                    ::IsWindowVisible(window) ? 1 : 0, ::IsIconic(window) ? 1 : 0, Utf8(WindowText(window)).c_str(),
                    rect.left, rect.top, rect.right, rect.bottom, BarPosition(window));
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        for (int id : kControlIds) {
            HWND control = ::GetDlgItem(window, id);
            RECT placed{};
            ::GetWindowRect(control, &placed);
            ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&placed), 2);
            std::printf("control%d=%ld,%ld,%ld,%ld\nname%d=%s\n", id, placed.left, placed.top, placed.right,
                        placed.bottom, id, Utf8(AccessibleName(control)).c_str());
        }
        return 0;
    }
    if (command == L"watch" && argc >= 4) {
        const ULONGLONG deadline = ::GetTickCount64() + std::wcstoul(argv[3], nullptr, 10);
        std::wstring lastText = L"\x1";
        int lastBar = -2;
        while (::GetTickCount64() < deadline && ::IsWindow(window)) {
            const std::wstring text = WindowText(window);
            const int bar = BarPosition(window);
            if (text != lastText || bar != lastBar) {
                std::printf("text=%s\tbar=%d\n", Utf8(text).c_str(), bar);
                std::fflush(stdout);
                lastText = text;
                lastBar = bar;
            }
            ::Sleep(5);
        }
        return 0;
    }
    if (command == L"gone" && argc >= 4) {
        const ULONGLONG deadline = ::GetTickCount64() + std::wcstoul(argv[3], nullptr, 10);
        while (::IsWindow(window)) {
            if (::GetTickCount64() > deadline)
                return 1;
            ::Sleep(50);
        }
        return 0;
    }
    return 2;
}

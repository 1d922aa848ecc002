// Looks at the loader's window from another process, as a person would see
// it, and prints what it finds, one "key=value" line each (UTF-8):
//   window_probe find <timeoutMs> [idle]   the loader window's handle, once shown
//                                          (only windows of live processes); with
//                                          idle, once its process has also first
//                                          waited for input (under Wine, also once
//                                          any of its threads took a timer message:
//                                          the dialog's manager may show it once more
//                                          after, the first time its queue runs empty
//                                          or it takes a WM_TIMER)
//   window_probe none <timeoutMs>          waits until no loader window is left
//   window_probe first-visible <timeoutMs> the system time (Unix ms) at which any
//                                          visible layered window first shows
//   window_probe info <hwnd>               visible, iconic, text, rect, bar position,
//                                          whether the bar has its stripe look, each
//                                          control's client rectangle (minimise, close,
//                                          progress) and the name a screen reader gets
//                                          (minimise.name, ...: oleacc)
//   window_probe watch <hwnd> <ms> [look]  every change of text, bar position or look;
//                                          with look, until the stripe look shows
//   window_probe gone <hwnd> <timeoutMs>   waits until the window no longer exists
//   window_probe post <hwnd> {<message> <wParam> <lParam>}...
//                                          posts messages as any program could; a
//                                          message is a number or a name to register,
//                                          "bar:" before it posts to the bar
//   window_probe flood <hwnd> <ms>         keeps the window busy with messages sent
//                                          without waiting, which it handles before
//                                          any posted message
//   window_probe prompt <timeoutMs>        a dialog owned by the loader window, once
//                                          shown: its handle, title, owner, and the
//                                          screen rectangles of the system's proxy
//                                          password prompt's user and password
//                                          fields and its OK and Cancel buttons,
//                                          with their handles (userwindow, ...)
//   window_probe focused <hwnd> <timeoutMs> waits until the window has the focus of
//                                          its thread
//   window_probe short-path <path>         the path in its short (8.3) form
//   window_probe hold-desktop              "ready" once it holds Wine's desktop, then
//                                          runs until ended, keeping it up: when the
//                                          last program on it ends, its process leaves,
//                                          and a program that starts meanwhile waits
//                                          12 s for it

#include "common/UniqueHandle.h"
#include "res/ResourceIds.h"
#include "tests/support/HarnessEnv.h"

#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

using harness::Narrow;

const int kProgressBarId = IDC_PROGRESS_BAR;
const struct {
    int id;
    const char* name;
} kControls[] = {{IDC_MINIMISE_BUTTON, "minimise"}, {IDC_CLOSE_BUTTON, "close"}, {IDC_PROGRESS_BAR, "progress"}};

WideString WindowText(HWND window)
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
WideString AccessibleName(HWND control)
{
    IAccessible* accessible = nullptr;
    BSTR name = nullptr;
    // __uuidof, not IID_IAccessible: MinGW's x86_64 oleacc library gives that
    // name to an import thunk, whose bytes would be passed as the IID.
    if (SUCCEEDED(::AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                               reinterpret_cast<void**>(&accessible)))) {
        VARIANT self{};
        self.vt = VT_I4; // lVal 0: CHILDID_SELF
        accessible->get_accName(self, &name);
        accessible->Release();
    }
    WideString text = name ? WideString(name, ::SysStringLen(name)) : WideString();
    ::SysFreeString(name);
    return text;
}

// Read before the text: the loader sets the text before the look.
int BarMarquee(HWND window)
{
    HWND bar = ::GetDlgItem(window, kProgressBarId);
    return bar && (::GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE) ? 1 : 0;
}

unsigned long long Number(const wchar_t* text)
{
    return std::wcstoull(text, nullptr, 0);
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

BOOL CALLBACK FindOwnedDialog(HWND window, LPARAM found)
{
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    HWND owner = ::GetWindow(window, GW_OWNER);
    HWND loader = nullptr;
    if (owner)
        FindLoader(owner, reinterpret_cast<LPARAM>(&loader));
    if (std::wcscmp(className, L"#32770") == 0 && loader == owner && owner && ::IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void PrintScreenRect(const char* name, HWND window)
{
    RECT rect{};
    if (window)
        ::GetWindowRect(window, &rect);
    std::printf("%s=%ld,%ld,%ld,%ld\n%swindow=%llu\n", name, rect.left, rect.top, rect.right, rect.bottom, name,
                static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(window)));
}

unsigned long long UnixMilliseconds()
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - 116444736000000000ull) / 10000;
}

// The first top-level window the callback picks, or null.
HWND Found(WNDENUMPROC pick)
{
    HWND found = nullptr;
    ::EnumWindows(pick, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Whether done() came true within the milliseconds ms names, looked at every step.
template <typename Done>
bool Within(const wchar_t* ms, Done done, DWORD step = 50)
{
    for (const ULONGLONG deadline = ::GetTickCount64() + std::wcstoul(ms, nullptr, 10);; ::Sleep(step)) {
        if (done())
            return true;
        if (::GetTickCount64() > deadline)
            return false;
    }
}

HWND ParseWindow(const wchar_t* text)
{
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::wcstoull(text, nullptr, 10)));
}

struct Flood {
    HWND window;
    ULONGLONG deadline;
};

// Batches of WM_PAINT (a whole composition each) sent without waiting, each
// batch followed by a message that waits until the window has handled it.
// Two such threads keep the window's queue of sent messages from running
// empty, and its length bounded.
DWORD WINAPI FloodThread(void* param)
{
    const Flood& flood = *static_cast<const Flood*>(param);
    while (::GetTickCount64() < flood.deadline && ::IsWindow(flood.window)) {
        for (int i = 0; i < 100; ++i)
            ::SendNotifyMessageW(flood.window, WM_PAINT, 0, 0);
        DWORD_PTR answer = 0;
        ::SendMessageTimeoutW(flood.window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer);
    }
    return 0;
}

// Posts each <message> <wParam> <lParam> triple; 1 when one could not be posted.
int PostAll(HWND window, int count, wchar_t** triples)
{
    for (int i = 0; i + 2 < count; i += 3) {
        const wchar_t* name = triples[i];
        HWND target = window;
        if (std::wcsncmp(name, L"bar:", 4) == 0) {
            target = ::GetDlgItem(window, kProgressBarId);
            name += 4;
        }
        const UINT message =
            *name >= L'0' && *name <= L'9' ? static_cast<UINT>(Number(name)) : ::RegisterWindowMessageW(name);
        if (!::PostMessageW(target, message, static_cast<WPARAM>(Number(triples[i + 1])),
                            static_cast<LPARAM>(Number(triples[i + 2]))))
            return 1;
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // Other programs' windows in the screen's own pixels at any DPI: a
    // program unaware of DPI gets them scaled to 96 DPI (Windows 10 and
    // Wine 10 do so; Wine 8 treats every program as aware). Looked up: the
    // call is Windows 10's.
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    const auto setContext = reinterpret_cast<SetContextFn>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    if (setContext)
        setContext(reinterpret_cast<HANDLE>(-4)); // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    if (argc == 2 && std::wcscmp(argv[1], L"hold-desktop") == 0) {
        ::GetDesktopWindow();
        // The harness starts a test once the desktop is held.
        std::printf("ready\n");
        std::fflush(stdout);
        ::Sleep(INFINITE);
    }
    if (argc < 3)
        return 2;
    const WideString command = argv[1];
    HWND found = nullptr;
    if (command == L"find") {
        const ULONGLONG deadline = ::GetTickCount64() + std::wcstoul(argv[2], nullptr, 10);
        if (!Within(argv[2], [&found] { return (found = Found(FindLoader)) && ::IsWindowVisible(found); }))
            return 1;
        DWORD processId = 0;
        ::GetWindowThreadProcessId(found, &processId);
        UniqueKernelHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId));
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = static_cast<DWORD>(deadline > now ? deadline - now : 0);
        if (argc >= 4 && (!process || ::WaitForInputIdle(process.get(), left) != 0))
            return 1;
        std::printf("hwnd=%llu\n", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(found)));
        return 0;
    }
    if (command == L"first-visible") {
        std::printf("ready=%llu\n", UnixMilliseconds());
        std::fflush(stdout);
        if (!Within(argv[2], [] { return Found(FindLayered) != nullptr; }, 1))
            return 1;
        std::printf("visible=%llu\n", UnixMilliseconds());
        return 0;
    }
    if (command == L"none")
        return Within(argv[2], [] { return !Found(FindLoader); }) ? 0 : 1;
    if (command == L"prompt") {
        if (!Within(argv[2], [&found] { return (found = Found(FindOwnedDialog)) != nullptr; }))
            return 1;
        std::printf("hwnd=%llu\nowner=%llu\ntitle=%s\n",
                    static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(found)),
                    static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(::GetWindow(found, GW_OWNER))),
                    Narrow(WindowText(found)).c_str());
        // The fields of WinINet's proxy password prompt.
        PrintScreenRect("user", ::GetDlgItem(found, 0x403));
        PrintScreenRect("password", ::GetDlgItem(found, 0x404));
        PrintScreenRect("ok", ::GetDlgItem(found, IDOK));
        PrintScreenRect("cancel", ::GetDlgItem(found, IDCANCEL));
        return 0;
    }
    if (command == L"short-path") {
        wchar_t path[32768];
        const DWORD length = ::GetShortPathNameW(argv[2], path, 32768);
        if (length == 0 || length >= 32768)
            return 1;
        std::printf("short=%s\n", Narrow(path).c_str());
        return 0;
    }
    HWND window = ParseWindow(argv[2]);
    if (command == L"post")
        return PostAll(window, argc - 3, argv + 3);
    if (command == L"flood" && argc >= 4) {
        Flood flood = {window, ::GetTickCount64() + std::wcstoul(argv[3], nullptr, 10)};
        UniqueKernelHandle other(::CreateThread(nullptr, 0, FloodThread, &flood, 0, nullptr));
        FloodThread(&flood);
        if (other)
            ::WaitForSingleObject(other.get(), INFINITE);
        return 0;
    }
    if (command == L"info") {
        if (!::IsWindow(window)) {
            std::printf("exists=0\n");
            return 0;
        }
        RECT rect{};
        ::GetWindowRect(window, &rect);
        const int marquee = BarMarquee(window);
        std::printf("exists=1\nvisible=%d\niconic=%d\ntext=%s\nrect=%ld,%ld,%ld,%ld\nbar=%d\nmarquee=%d\n",
                    ::IsWindowVisible(window) ? 1 : 0, ::IsIconic(window) ? 1 : 0, Narrow(WindowText(window)).c_str(),
                    rect.left, rect.top, rect.right, rect.bottom, BarPosition(window), marquee);
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        for (const auto& known : kControls) {
            HWND control = ::GetDlgItem(window, known.id);
            RECT placed{};
            ::GetWindowRect(control, &placed);
            ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&placed), 2);
            std::printf("%s=%ld,%ld,%ld,%ld\n%s.name=%s\n", known.name, placed.left, placed.top, placed.right,
                        placed.bottom, known.name, Narrow(AccessibleName(control)).c_str());
        }
        return 0;
    }
    if (command == L"watch" && argc >= 4) {
        const ULONGLONG deadline = ::GetTickCount64() + std::wcstoul(argv[3], nullptr, 10);
        WideString lastText = L"\x1";
        int lastBar = -2;
        int lastMarquee = -1;
        while (::GetTickCount64() < deadline && ::IsWindow(window)) {
            const int marquee = BarMarquee(window);
            const WideString text = WindowText(window);
            const int bar = BarPosition(window);
            if (text != lastText || bar != lastBar || marquee != lastMarquee) {
                std::printf("text=%s\tbar=%d\tmarquee=%d\n", Narrow(text).c_str(), bar, marquee);
                std::fflush(stdout);
                lastText = text;
                lastBar = bar;
                lastMarquee = marquee;
                if (marquee && argc >= 5 && std::wcscmp(argv[4], L"look") == 0)
                    return 0;
            }
            ::Sleep(5);
        }
        return 0;
    }
    if (command == L"gone" && argc >= 4)
        return Within(argv[3], [window] { return !::IsWindow(window); }) ? 0 : 1;
    if (command == L"focused" && argc >= 4) {
        return Within(argv[3], [window] {
                   GUITHREADINFO thread{};
                   thread.cbSize = sizeof thread;
                   return ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &thread) &&
                          thread.hwndFocus == window;
               }) ? 0 : 1;
    }
    return 2;
}

// The loader benchmark's baseline: the least a program can do to show a
// 513 x 264 per-pixel-alpha window. "show" pushes one frame and waits;
// "animate SECONDS" pushes a new frame every 32 ms, as the loader's stripe
// bar makes it do.

#include "common/UniqueHandle.h"

#include <windows.h>

#include <cwchar>

namespace {

const int kWidth = 513;
const int kHeight = 264;
const UINT kFrameMs = 32;

struct Surface {
    UniqueMemoryDc dc;
    UniqueBitmap bitmap;
    DWORD* pixels = nullptr;
};

int frameNumber = 0;

void Push(HWND window, Surface& surface)
{
    // A plain premultiplied picture that changes every frame.
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const bool stripe = ((x + y + frameNumber * 2) / 8) % 2 == 0;
            surface.pixels[y * kWidth + x] = stripe ? 0xFFCCCCCC : 0xFFF7F7F7;
        }
    ++frameNumber;
    RECT rect{};
    ::GetWindowRect(window, &rect);
    POINT destination{rect.left, rect.top};
    SIZE size{kWidth, kHeight};
    POINT source{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    ::UpdateLayeredWindow(window, nullptr, &destination, &size, surface.dc.get(), &source, 0, &blend, ULW_ALPHA);
}

Surface* surfaceForTimer = nullptr;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && surfaceForTimer) {
        Push(window, *surfaceForTimer);
        return 0;
    }
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool animate = argc >= 2 && std::wcscmp(argv[1], L"animate") == 0;
    const DWORD seconds = argc >= 3 ? std::wcstoul(argv[2], nullptr, 10) : 3;

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KovraBenchBareLayered";
    ::RegisterClassW(&windowClass);
    HWND window = ::CreateWindowExW(WS_EX_LAYERED | WS_EX_TOPMOST, windowClass.lpszClassName, L"", WS_POPUP,
                                    (::GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2,
                                    (::GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2, kWidth, kHeight, nullptr,
                                    nullptr, windowClass.hInstance, nullptr);
    if (!window)
        return 1;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    Surface surface;
    void* bits = nullptr;
    surface.bitmap.reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    surface.dc.reset(::CreateCompatibleDC(nullptr));
    if (!surface.bitmap || !surface.dc)
        return 1;
    surface.pixels = static_cast<DWORD*>(bits);
    SelectedObject selected(surface.dc.get(), surface.bitmap.get());

    Push(window, surface);
    ::ShowWindow(window, SW_SHOWNOACTIVATE);
    if (animate) {
        surfaceForTimer = &surface;
        ::SetTimer(window, 1, kFrameMs, nullptr);
    }
    const ULONGLONG end = ::GetTickCount64() + seconds * 1000ull;
    MSG message;
    while (::GetTickCount64() < end) {
        if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT) == WAIT_OBJECT_0)
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
    }
    surfaceForTimer = nullptr;
    ::DestroyWindow(window);
    return 0;
}

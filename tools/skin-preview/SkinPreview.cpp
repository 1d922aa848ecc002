// Shows the loader's window without downloading anything, for looking at the
// skin and for screenshots.
//
//   skin_preview [--percent N | --installing] [--seconds S] [--frame FILE.pam]
//
// Prints "ready" once the window has faded in. --frame also writes the
// composed frame (straight RGBA) as a PAM file. Without --seconds it runs
// until the window is closed.

#include "res/ResourceIds.h"
#include "tools/skin-preview/PreviewDialog.h"
#include "ui/GdiPlusSession.h"
#include "ui/SkinFrame.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace {

bool WritePam(const wchar_t* path, const SkinFrame& frame)
{
    FILE* file = _wfopen(path, L"wb");
    if (!file)
        return false;
    std::fprintf(file, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", frame.Width(),
                 frame.Height());
    std::vector<unsigned char> row(static_cast<size_t>(frame.Width()) * 4);
    for (int y = 0; y < frame.Height(); ++y) {
        for (int x = 0; x < frame.Width(); ++x) {
            const unsigned pixel = frame.Pixel(x, y);
            const unsigned alpha = pixel >> 24;
            unsigned char* out = &row[static_cast<size_t>(x) * 4];
            for (int channel = 0; channel < 3; ++channel) {
                const unsigned value = (pixel >> (16 - 8 * channel)) & 0xFF;
                out[channel] = static_cast<unsigned char>(alpha ? (value * 255 + alpha / 2) / alpha : 0);
            }
            out[3] = static_cast<unsigned char>(alpha);
        }
        std::fwrite(row.data(), 1, row.size(), file);
    }
    return std::fclose(file) == 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    int percent = 42;
    bool installing = false;
    double seconds = 0.0;
    const wchar_t* framePath = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::wcscmp(argv[i], L"--percent") && i + 1 < argc)
            percent = std::wcstol(argv[++i], nullptr, 10);
        else if (!std::wcscmp(argv[i], L"--installing"))
            installing = true;
        else if (!std::wcscmp(argv[i], L"--seconds") && i + 1 < argc)
            seconds = std::wcstod(argv[++i], nullptr);
        else if (!std::wcscmp(argv[i], L"--frame") && i + 1 < argc)
            framePath = argv[++i];
        else {
            std::fprintf(stderr, "usage: skin_preview [--percent N | --installing] [--seconds S] [--frame FILE]\n");
            return 2;
        }
    }
    if (percent < 0 || percent > 100) {
        std::fprintf(stderr, "skin_preview: the percentage goes from 0 to 100\n");
        return 2;
    }

    GdiPlusSession gdiPlus;
    PreviewDialog dialog;
    if (!dialog.PrepareBinding())
        return 1;
    if (!::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_KOVRA_LOADER), nullptr,
                              &LayeredSkinWindow::DialogProc, 0)) {
        dialog.CancelBinding();
        std::fprintf(stderr, "skin_preview: the window could not be created\n");
        return 1;
    }
    if (installing)
        dialog.ShowInstalling();
    else
        dialog.ShowDownloading(percent);

    const DWORD start = ::GetTickCount();
    bool ready = false;
    for (;;) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return 0;
            if (!::IsDialogMessageW(dialog.Window(), &message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        const DWORD elapsed = ::GetTickCount() - start;
        // The fade takes about a quarter of a second; the stripes get a
        // moment to move away from their first phase.
        if (!ready && dialog.Alpha() == 255 && elapsed > 700) {
            ready = true;
            if (framePath) {
                SkinFrame frame;
                if (!dialog.BuildFrame(frame) || !WritePam(framePath, frame)) {
                    std::fprintf(stderr, "skin_preview: could not write the frame\n");
                    return 1;
                }
            }
            std::printf("ready\n");
            std::fflush(stdout);
        }
        if (seconds > 0.0 && elapsed >= seconds * 1000.0) {
            ::DestroyWindow(dialog.Window());
            return 0;
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

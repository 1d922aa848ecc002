#include "ui/FadeIn.h"

#include "common/UniqueHandle.h"
#include "ui/RegisteredMessage.h"

#include <process.h>

namespace {

constexpr DWORD kStepMs = 10;

} // namespace

UINT FadeIn::StepMessage()
{
    static std::atomic<UINT> cache{0};
    return RegisteredMessage(cache, L"Kovra.LayeredSkinWindow.FadeStep");
}

bool FadeIn::Start(HWND window)
{
    if (started)
        return true;
    started = true;
    UniqueKernelHandle thread(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &Run, window, 0, nullptr)));
    if (thread)
        return true;
    alpha = 255;
    return false;
}

unsigned __stdcall FadeIn::Run(void* window)
{
    // Each step answers the alpha it reached; 0 when the window is gone.
    for (LRESULT reached = 0; reached < 255;) {
        reached = ::SendMessageW(static_cast<HWND>(window), StepMessage(), 0, 0);
        if (reached == 0)
            break;
        ::Sleep(kStepMs);
    }
    return 0;
}

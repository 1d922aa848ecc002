#pragma once
// The window's fade-in when first shown: a thread of its own rings the window
// every 10 ms, and each ring takes the constant alpha one step on
// (NextFadeAlpha) on the window's thread. Only the handle travels to that
// thread: the window may be gone (and its object with it) before the fade
// ends, and the ring then simply fails.

#include <windows.h>

// The constant alpha after one step: 10 more, at most 255. From 0 that gives
// 10, 20, ..., 250 and finally 255.
inline int NextFadeAlpha(int alpha)
{
    return alpha + 10 > 255 ? 255 : alpha + 10;
}

class FadeIn {
public:
    // The first call starts the fade's thread; false when none could be made,
    // and the alpha is full at once (without its fade the window would stay
    // invisible).
    bool Start(HWND window);
    // Window's thread, at each ring: the next alpha.
    int Step() { return alpha = NextFadeAlpha(alpha); }
    int Alpha() const { return alpha; }
    static UINT StepMessage();

private:
    static unsigned __stdcall Run(void* window);

    int alpha = 0;
    bool started = false;
};

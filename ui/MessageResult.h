#pragma once
// What a window object's dispatch gives back: whether it handled the message,
// and the result when it did. Unhandled messages go on along the chain.

#include <windows.h>

struct MessageResult {
    bool handled;
    LRESULT value;
};

inline MessageResult Handled(LRESULT value) { return {true, value}; }
inline MessageResult NotHandled() { return {false, 0}; }

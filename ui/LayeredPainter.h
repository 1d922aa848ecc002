#pragma once
// What the child hooks and the fade-in know of a skinned window: it can
// compose its picture again, and it can be told that a child may look
// different from its last capture.

#include <windows.h>

class LayeredPainter {
public:
    virtual void Compose() = 0;
    virtual void ChildChanged(HWND child) = 0;

protected:
    ~LayeredPainter() = default;
};

#pragma once
// What the child hooks and the fade-in know of a skinned window: it can
// compose its picture again.

class LayeredPainter {
public:
    virtual void Compose() = 0;

protected:
    ~LayeredPainter() = default;
};

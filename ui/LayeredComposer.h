#pragma once
// The composition of a layered window's picture: the frames, the caches
// behind them and their pushes. Window thread only, like everything a pass
// reads.
//
// A pass is cheap because little of it is new: the background with what the
// window draws over it (the static layers) is drawn once into a cached
// surface and copied into the frame; the frames, their DCs and the bitmaps
// the children are captured into live as long as the window. A child is
// captured again only after a message other than painting and printing has
// reached it (or one of its own children) since its last capture. The
// platform keeps the picture it was given, so a push names only the area in
// which the new frame differs from the one shown.

#include "ui/GdiPlusFlat.h"
#include "ui/MemoryCanvas.h"
#include "ui/SkinFrame.h"

// What the child hooks and the composition know of a skinned window: it can
// compose its picture again, it can be told that a child may look different
// from its last capture, it draws its static layers (the background and what
// the window draws over it), and it knows which children tell it when they
// change (ChildChanged).
class LayeredPainter {
public:
    virtual void Compose() = 0;
    virtual void ChildChanged(HWND child) = 0;
    virtual void DrawStaticLayers(GpGraphics* graphics, SIZE size) = 0;
    virtual bool Watches(HWND child) = 0;

protected:
    ~LayeredPainter() = default;
};

class LayeredComposer {
public:
    // Starts a pass: the frame not on screen, to build the next one into;
    // null while another pass runs (a paint during a pass starts none).
    SkinFrame* BeginPass();
    void EndPass() { painting = false; }
    // Builds one frame of size for window: the static layers, then its
    // visible children. False when a surface could not be made. Inside a
    // pass.
    bool Build(SkinFrame& frame, HWND window, SIZE size, LayeredPainter& source);
    // Hands a built frame to the platform at constant alpha. Only the changed
    // area goes when the window shows the other of the two frames at the same
    // place and alpha; nothing goes when nothing changed.
    void Push(HWND window, const SkinFrame& frame, BYTE alpha);

    // The static layers are drawn again at the next pass.
    void InvalidateStaticLayers() { staticLayersStale = true; }
    // The platform may have dropped or moved the picture it keeps.
    void PushAllNext() { pushAll = true; }
    // A message that may change its look has reached child (or a window
    // below it): its next capture is made anew.
    void ChildChanged(HWND child);

private:
    struct ChildCapture {
        HWND child = nullptr;
        RECT rect = {};
        bool current = false;
        MemoryCanvas pixels;
    };
    bool RefreshStaticLayers(SIZE size, LayeredPainter& source);
    void DrawChild(HDC dc, HWND window, HWND child, LayeredPainter& source);
    ChildCapture* CaptureOf(HWND child, LayeredPainter& source);

    bool painting = false;
    SkinFrame frames[2];
    const SkinFrame* shown = nullptr; // one of frames, or null: push it all
    BYTE shownAlpha = 0;
    POINT shownAt = {};
    bool pushAll = true;
    SkinFrame staticLayers;
    bool staticLayersStale = true;
    // The last capture of each of the first children, in the order of their
    // first capture, and one bitmap for the children beyond those.
    static constexpr int kCapturedChildren = 8;
    ChildCapture captures[kCapturedChildren];
    MemoryCanvas capture;
};

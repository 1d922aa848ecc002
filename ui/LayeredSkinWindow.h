#pragma once
// A dialog shown as a per-pixel-alpha layered window. Its whole picture (the
// background with its soft shadow, the derived class's own drawing and a
// capture of every visible child control) is composed again whenever anything
// on it changes and pushed with UpdateLayeredWindow. It takes the size of its
// background (at its scale, below), centres itself, hooks its children so
// that their repaints recompose it, can be dragged by its surface and fades
// in when first shown.
//
// A pass is cheap because little of it is new: the background with
// DrawBeforeChildren over it (the static layers) is drawn once into a cached
// surface and copied into the frame; the frames, their DCs and the bitmap
// the children are captured into live as long as the window. The static
// layers are drawn again after InvalidateStaticLayers and after every task
// run through RunOnWindowThread, the way state that DrawBeforeChildren reads
// is handed over. A child is captured again only after a message other than
// painting and printing has reached it (or one of its own children) since its
// last capture. The platform keeps the picture it was given, so a push names
// only the area in which the new frame differs from the one shown.
//
// Scale: the window is designed in pixels at 96 DPI and shown at the DPI of
// its monitor: its size, the places of the controls it places and what it
// draws are the design's scaled by DPI / 96, with the nearest set of
// pictures. WM_DPICHANGED lays it out again at the new DPI.
//
// Threads: every composition runs on the window's own thread. The fade-in
// thread and other threads reach the window only through synchronous
// messages (RunOnWindowThread), so nothing a pass reads changes under it.
// Any program can send a window any message, so the private ones carry
// nothing: they only ring, and what they ask for waits in this object.

#include "ui/GdiPlusFlat.h"
#include "ui/LayeredPainter.h"
#include "ui/MemoryCanvas.h"
#include "ui/MessageResult.h"
#include "ui/ScaledPicture.h"
#include "ui/SkinFrame.h"
#include "common/UniqueHandle.h"

#include <atomic>

class LayeredSkinWindow : public LayeredPainter {
public:
    // Loads the background (resource 216, "PNG"); the window does not exist yet.
    LayeredSkinWindow();
    virtual ~LayeredSkinWindow();
    LayeredSkinWindow(const LayeredSkinWindow&) = delete;
    LayeredSkinWindow& operator=(const LayeredSkinWindow&) = delete;

    // Registers this object for the next dialog the calling thread creates
    // with DialogProc, e.g.
    //   if (!dialog.PrepareBinding()) -> no memory
    //   DialogBoxParamW(instance, MAKEINTRESOURCEW(130), owner, LayeredSkinWindow::DialogProc, 0);
    bool PrepareBinding();
    // Withdraws a registration that no window has taken (creation failed).
    void CancelBinding();
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND Window() const { return window; }
    int Alpha() const { return alpha; }
    // The DPI the window is laid out for (96 until WM_INITDIALOG) and the
    // design's size: the 1x background's. Window thread only.
    UINT Dpi() const { return dpi; }
    SIZE DesignSize() const { return background.DesignSize(); }

    // Moves control to the design rectangle (pixels at 96 DPI) at the
    // window's scale, tells it the DPI (ControlScaleMessage), and does both
    // again whenever the DPI changes.
    void PlaceControl(HWND control, const RECT& design);

    // One pass: build the frame and push it. Returns at once while another
    // pass runs or when the window is gone.
    void Compose() override;
    // A message that may change its look has reached child (or a window
    // below it): its next capture is made anew. Window thread only.
    void ChildChanged(HWND child) override;
    // Builds one frame without pushing it: background, DrawBeforeChildren,
    // the visible children, DrawAfterChildren. False when the surface or its
    // graphics could not be made, or while a pass runs. Window thread only.
    bool BuildFrame(SkinFrame& frame);

    // What DrawBeforeChildren draws has changed: the next pass draws the
    // static layers again. Any thread; the change itself must not overlap a
    // pass (make it on the window's thread).
    void InvalidateStaticLayers() { staticLayersStale = true; }

    // Runs task() on the window's thread and waits for it; false when the
    // window is gone. For the hand-over of state that composition reads: the
    // static layers are drawn again at the next pass.
    template <typename Task>
    bool RunOnWindowThread(Task& task)
    {
        return InvokeOnWindowThread(&CallTask<Task>, &task, true);
    }

    // Loads icon group id at the large and the small icon size and sets both
    // on the window; the icons live as long as this object.
    void SetWindowIcons(UINT id);

protected:
    // Dispatch; derived classes put their own handlers in front and call this
    // for the rest.
    virtual MessageResult OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Draws over the background into the cached static layers: called for
    // the first pass and after each invalidation, not for every pass. The
    // graphics state it leaves (smoothing, text hint) carries over to the
    // graphics that DrawChild and DrawAfterChildren get.
    virtual void DrawBeforeChildren(GpGraphics* graphics);
    virtual void DrawAfterChildren(GpGraphics* graphics);
    virtual void DrawChild(GpGraphics* graphics, HDC dc, HWND child);
    // Called once inside WM_INITDIALOG, after sizing and centring and before
    // the children are hooked.
    virtual void InitControls();
    // Hands a built frame to the platform with the current constant alpha.
    // Only the changed area goes when the window shows the other of its own
    // two frames at the same place and alpha; nothing goes when nothing
    // changed.
    virtual void PushFrame(const SkinFrame& frame);

    ScaledPicture background;

private:
    struct WindowTask {
        void (*run)(void* context);
        void* context;
        bool changesPicture;
        bool done;
        WindowTask* next;
    };
    template <typename Task>
    static void CallTask(void* task)
    {
        (*static_cast<Task*>(task))();
    }
    bool InvokeOnWindowThread(void (*run)(void*), void* context, bool changesPicture);
    // Window thread: runs every task that waits, whichever ring asked.
    void RunWaitingTasks();

    // BuildFrame and Compose with the pass guard held.
    bool BuildGuarded(SkinFrame& frame);
    // Draws the background and DrawBeforeChildren again when they are stale
    // or of another size; false when the cache cannot be had.
    bool RefreshStaticLayers(SIZE size);

    MessageResult Initialise();
    MessageResult OnDpiChanged(WPARAM wParam, LPARAM lParam);
    SIZE FrameSize() const;
    MessageResult OnShowWindow(WPARAM wParam, LPARAM lParam);
    void BeginDrag(LPARAM lParam);
    void HookChildren(HWND parent);
    static void UnhookChildren(HWND parent);
    static LRESULT CALLBACK ChildHookProc(HWND child, UINT message, WPARAM wParam, LPARAM lParam);
    static unsigned __stdcall FadeIn(void* window);

    // Read by other threads (RunOnWindowThread), cleared on WM_NCDESTROY.
    std::atomic<HWND> window{nullptr};
    std::atomic<bool> painting{false};
    std::atomic<bool> staticLayersStale{true};
    // Tasks of threads waiting in InvokeOnWindowThread, newest first.
    SRWLOCK taskLock = SRWLOCK_INIT;
    WindowTask* waitingTasks = nullptr;
    int alpha = 0;
    // Window thread only, inside passes. Passes build into the frame that is
    // not on screen.
    SkinFrame frames[2];
    const SkinFrame* shown = nullptr; // one of frames, or null: push it all
    BYTE shownAlpha = 0;
    POINT shownAt = {};
    // Set when the platform may have dropped or moved the picture it keeps.
    bool pushAll = true;
    SkinFrame staticLayers;
    Gdiplus::SmoothingMode staticSmoothing = Gdiplus::SmoothingModeNone;
    Gdiplus::TextRenderingHint staticTextHint = Gdiplus::TextRenderingHintSystemDefault;
    // The last capture of each of the first children, in the order of their
    // first capture.
    struct ChildCapture {
        HWND child = nullptr;
        RECT rect = {};
        bool current = false;
        MemoryCanvas pixels;
    };
    static constexpr int kCapturedChildren = 8;
    ChildCapture captures[kCapturedChildren];
    // For children beyond those.
    MemoryCanvas capture;
    ChildCapture* CaptureOf(HWND child);
    bool fadeStarted = false;
    UINT dpi = 96;
    struct PlacedControl {
        HWND control = nullptr;
        RECT design = {};
    };
    PlacedControl placed[4];
    UniqueIcon bigIcon;
    UniqueIcon smallIcon;
};

#pragma once
// A dialog shown as a per-pixel-alpha layered window. Its whole picture (the
// background with its soft shadow, the derived class's own drawing and a
// capture of every visible child control) is composed again whenever anything
// on it changes and pushed with UpdateLayeredWindow (LayeredComposer). It
// takes the size of its background (at its scale, below), centres itself,
// hooks its children so that their repaints recompose it, can be dragged by
// its surface and fades in when first shown (FadeIn). The static layers are
// drawn again after every task run through RunOnWindowThread, the way state
// that DrawBeforeChildren reads is handed over.
//
// Scale: the window is designed in pixels at 96 DPI and shown at the DPI of
// its monitor: its size, the places of the controls it places and what it
// draws are the design's scaled by DPI / 96, with the nearest set of
// pictures. WM_DPICHANGED lays it out again at the new DPI.
//
// Threads: the window, its controls and everything a pass reads belong to
// the window's thread, where every pass runs. Other threads reach it in two
// ways only: the fade's thread rings its step message, and any other thread
// hands tasks over (RunOnWindowThread, PostToWindowThread: WindowTasks). Any
// program can send a window any message, so the private ones carry nothing:
// they only ring, and what they ask for waits in this object.

#include "common/UniqueHandle.h"
#include "ui/FadeIn.h"
#include "ui/LayeredComposer.h"
#include "ui/MessageResult.h"
#include "ui/ScaledPicture.h"
#include "ui/WindowTasks.h"

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

    // Null before the window's first message and after its last; any thread.
    HWND Window() const { return window; }
    int Alpha() const { return fade.Alpha(); }
    // The DPI the window is laid out for (96 until WM_INITDIALOG) and the
    // design's size: the 1x background's. Window thread only.
    UINT Dpi() const { return dpi; }
    SIZE DesignSize() const { return background.DesignSize(); }

    // Moves control to the design rectangle (pixels at 96 DPI) at the
    // window's scale, tells it the DPI (ControlScaleMessage), and does both
    // again whenever the DPI changes.
    void PlaceControl(HWND control, const RECT& design);

    // One pass: build the frame and push it; nothing while another pass runs.
    // Window thread only.
    void Compose() override;
    void ChildChanged(HWND child) override { composer.ChildChanged(child); }
    // Builds one frame without pushing it: the background, DrawBeforeChildren
    // and the visible children. False when the surface could not be made, or
    // while a pass runs. Window thread only.
    bool BuildFrame(SkinFrame& frame);

    // Runs task() on the window's thread and waits for it; false when the
    // window is gone. For the hand-over of state that composition reads: the
    // static layers are drawn again at the next pass.
    template <typename Task>
    bool RunOnWindowThread(Task& task)
    {
        auto handOver = [this, &task] {
            task();
            composer.InvalidateStaticLayers();
        };
        return tasks.Run(window, handOver);
    }
    // Queues task for the window's thread and returns at once (WindowTasks::Post).
    void PostToWindowThread(WindowTasks::Task& task) { tasks.Post(window, task); }

    // Loads icon group id at the large and the small icon size and sets both
    // on the window; the icons live as long as this object.
    void SetWindowIcons(UINT id);

protected:
    // Dispatch; derived classes put their own handlers in front and call this
    // for the rest.
    virtual MessageResult OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Draws over the background into the cached static layers: called for
    // the first pass and after each hand-over, not for every pass.
    virtual void DrawBeforeChildren(GpGraphics* graphics);
    // Called once inside WM_INITDIALOG, after sizing and centring and before
    // the children are hooked.
    virtual void InitControls();
    // Hands a built frame to the platform at the fade's alpha.
    virtual void PushFrame(const SkinFrame& frame);

    ScaledPicture background;

private:
    void DrawStaticLayers(GpGraphics* graphics, SIZE size) override;
    bool Watches(HWND child) override;

    MessageResult Initialise();
    MessageResult OnDpiChanged(WPARAM wParam, LPARAM lParam);
    SIZE FrameSize() const;
    MessageResult OnShowWindow(WPARAM wParam, LPARAM lParam);
    void BeginDrag(LPARAM lParam);
    void HookChildren(HWND parent);
    static void UnhookChildren(HWND parent);
    static LRESULT CALLBACK ChildHookProc(HWND child, UINT message, WPARAM wParam, LPARAM lParam);

    // Read by other threads (the task queue), cleared on WM_NCDESTROY.
    std::atomic<HWND> window{nullptr};
    LayeredComposer composer;
    WindowTasks tasks;
    FadeIn fade;
    UINT dpi = 96;
    struct PlacedControl {
        HWND control = nullptr;
        RECT design = {};
    };
    PlacedControl placed[4];
    UniqueIcon bigIcon;
    UniqueIcon smallIcon;
};

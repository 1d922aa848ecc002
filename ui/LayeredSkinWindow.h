#pragma once
// A dialog shown as a per-pixel-alpha layered window. Its whole picture (the
// background with its soft shadow, the derived class's own drawing and a
// capture of every visible child control) is composed again whenever anything
// on it changes and pushed with UpdateLayeredWindow. It takes the size of its
// background, centres itself, hooks its children so that their repaints
// recompose it, can be dragged by its surface and fades in when first shown.
//
// Threads: every composition runs on the window's own thread. The fade-in
// thread and other threads reach the window only through synchronous
// messages (RunOnWindowThread), so nothing a pass reads changes under it.

#include "ui/GdiPlusFlat.h"
#include "ui/LayeredPainter.h"
#include "ui/MessageResult.h"
#include "ui/SkinFrame.h"
#include "ui/SkinImage.h"
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

    // One pass: build the frame and push it. Returns at once while another
    // pass runs or when the window is gone.
    void Compose() override;
    // Builds one frame without pushing it: background, DrawBeforeChildren,
    // the visible children, DrawAfterChildren. False when the surface or its
    // graphics could not be made. Window thread only.
    bool BuildFrame(SkinFrame& frame);

    // Runs task() on the window's thread and waits for it; false when the
    // window is gone. For the hand-over of state that composition reads.
    template <typename Task>
    bool RunOnWindowThread(Task& task)
    {
        return InvokeOnWindowThread(&CallTask<Task>, &task);
    }

    // Loads icon group id at the large and the small icon size and sets both
    // on the window; the icons live as long as this object.
    void SetWindowIcons(UINT id);

protected:
    // Dispatch; derived classes put their own handlers in front and call this
    // for the rest.
    virtual MessageResult OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void DrawBeforeChildren(GpGraphics* graphics);
    virtual void DrawAfterChildren(GpGraphics* graphics);
    virtual void DrawChild(GpGraphics* graphics, HDC dc, HWND child);
    // Called once inside WM_INITDIALOG, after sizing and centring and before
    // the children are hooked.
    virtual void InitControls();
    // Hands a built frame to the platform with the current constant alpha.
    virtual void PushFrame(const SkinFrame& frame);

    SkinImage background;

private:
    struct WindowTask {
        void (*run)(void* context);
        void* context;
    };
    template <typename Task>
    static void CallTask(void* task)
    {
        (*static_cast<Task*>(task))();
    }
    bool InvokeOnWindowThread(void (*run)(void*), void* context);

    MessageResult Initialise();
    MessageResult OnShowWindow(WPARAM wParam, LPARAM lParam);
    void BeginDrag(LPARAM lParam);
    void HookChildren(HWND parent);
    static void UnhookChildren(HWND parent);
    static LRESULT CALLBACK ChildHookProc(HWND child, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                          DWORD_PTR painter);
    static unsigned __stdcall FadeIn(void* window);

    // Read by other threads (RunOnWindowThread), cleared on WM_NCDESTROY.
    std::atomic<HWND> window{nullptr};
    std::atomic<bool> painting{false};
    int alpha = 0;
    bool fadeStarted = false;
    UniqueIcon bigIcon;
    UniqueIcon smallIcon;
};

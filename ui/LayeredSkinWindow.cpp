#include "ui/LayeredSkinWindow.h"

#include "common/SrwLock.h"
#include "res/ResourceIds.h"
#include "ui/ControlScaleMessage.h"
#include "ui/DialogBinding.h"
#include "ui/DpiScale.h"
#include "ui/FadeStep.h"
#include "ui/GdiPlusHandles.h"
#include "ui/NotificationReflection.h"
#include "ui/OpaqueCopy.h"
#include "ui/PaintScope.h"
#include "ui/RegisteredMessage.h"
#include "ui/WindowDpi.h"
#include "ui/WindowHooks.h"
#include "ui/WindowPlacement.h"

#include <process.h>
#include <windowsx.h>

using namespace Gdiplus;

namespace {

constexpr WPARAM kPrintEverything =
    PRF_CHECKVISIBLE | PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN | PRF_OWNED;
constexpr int kFadeStepMs = 10;
// WM_GETDPISCALEDSIZE (Windows 10 1703 on): the size the window wants at a DPI.
constexpr UINT kGetDpiScaledSize = 0x02E4;

// Private messages of the window; registered, so no template or control
// message can collide with them. Anyone can register the same names, so
// neither carries anything: a fade step takes the next alpha from the window
// itself, and a task ring runs only tasks waiting in the object.
UINT FadeStepMessage()
{
    static std::atomic<UINT> cache{0};
    return RegisteredMessage(cache, L"Kovra.LayeredSkinWindow.FadeStep");
}

UINT RunTaskMessage()
{
    static std::atomic<UINT> cache{0};
    return RegisteredMessage(cache, L"Kovra.LayeredSkinWindow.RunTask");
}

// Messages whose dialog-procedure return value is the result itself rather
// than a handled flag.
bool ReturnsResultDirectly(UINT message)
{
    switch (message) {
    case WM_INITDIALOG:
    case WM_CHARTOITEM:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_QUERYDRAGICON:
        return true;
    default:
        return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
    }
}

// Messages of painting and printing: the only ones after which a child is
// known to look as it did. Any other may change what it shows.
bool MayChangeLook(UINT message)
{
    switch (message) {
    case WM_PAINT:
    case WM_NCPAINT:
    case WM_ERASEBKGND:
    case WM_PRINT:
    case WM_PRINTCLIENT:
    case WM_DRAWITEM + kReflectedMessageOffset:
        return false;
    default:
        return !(message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) &&
               !(message >= WM_CTLCOLORMSGBOX + kReflectedMessageOffset &&
                 message <= WM_CTLCOLORSTATIC + kReflectedMessageOffset);
    }
}

bool OnOwnThread(HWND window)
{
    return ::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId();
}

} // namespace

LayeredSkinWindow::LayeredSkinWindow()
{
    background.Load(IDP_BACKGROUND);
}

LayeredSkinWindow::~LayeredSkinWindow()
{
    dialog_binding::Cancel(this);
    // Normally the window is gone by now. If not, nothing of it may call
    // into this object any more.
    HWND target = window;
    if (target && ::IsWindow(target)) {
        UnhookChildren(target);
        ::SetWindowLongPtrW(target, DWLP_USER, 0);
    }
}

bool LayeredSkinWindow::PrepareBinding()
{
    return dialog_binding::Register(this);
}

void LayeredSkinWindow::CancelBinding()
{
    dialog_binding::Cancel(this);
}

INT_PTR CALLBACK LayeredSkinWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<LayeredSkinWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) {
        self = dialog_binding::TakeForThisThread();
        if (!self)
            return FALSE;
        self->window = hwnd;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    }

    if (message == WM_WINDOWPOSCHANGED || message == WM_SHOWWINDOW || message == WM_DISPLAYCHANGE)
        self->pushAll = true;
    MessageResult result = self->OnMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->window = nullptr;
    }
    if (!result.handled)
        return FALSE;
    if (ReturnsResultDirectly(message))
        return static_cast<INT_PTR>(result.value);
    ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result.value);
    return TRUE;
}

MessageResult LayeredSkinWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return Initialise();
    case WM_PAINT: {
        PaintScope paint(window);
        Compose();
        return Handled(0);
    }
    case WM_ERASEBKGND:
        return Handled(1);
    case WM_LBUTTONDOWN:
        BeginDrag(lParam);
        return Handled(1);
    case WM_LBUTTONUP:
        return Handled(1);
    case WM_SHOWWINDOW:
        return OnShowWindow(wParam, lParam);
    case WM_DPICHANGED:
        return OnDpiChanged(wParam, lParam);
    case kGetDpiScaledSize:
        if (!lParam || !wParam)
            return NotHandled();
        *reinterpret_cast<SIZE*>(lParam) = ScaleToDpi(DesignSize(), static_cast<UINT>(wParam));
        return Handled(TRUE);
    default:
        break;
    }
    if (message == FadeStepMessage()) {
        alpha = NextFadeAlpha(alpha);
        Compose();
        return Handled(alpha);
    }
    if (message == RunTaskMessage()) {
        RunWaitingTasks();
        return Handled(1);
    }
    HWND control = ReflectionTarget(window, message, wParam, lParam);
    if (!control)
        return NotHandled();
    return Handled(::SendMessageW(control, message + kReflectedMessageOffset, wParam, lParam));
}

MessageResult LayeredSkinWindow::Initialise()
{
    dpi = WindowDpi(window);
    KeepDialogManagerFromScaling(window);
    SIZE size = FrameSize();
    ::SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOMOVE);
    CentreWindow(window);
    InitControls();
    HookChildren(window);
    return Handled(0); // no default focus
}

SIZE LayeredSkinWindow::FrameSize() const
{
    return ScaleToDpi(DesignSize(), dpi);
}

void LayeredSkinWindow::PlaceControl(HWND control, const RECT& design)
{
    PlacedControl* entry = nullptr;
    for (PlacedControl& candidate : placed)
        if (candidate.control == control || (!entry && !candidate.control))
            entry = &candidate;
    if (entry)
        *entry = PlacedControl{control, design};
    const RECT rect = ScaleToDpi(design, dpi);
    ::MoveWindow(control, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
    ::SendMessageW(control, ControlScaleMessage(), dpi, 0);
}

MessageResult LayeredSkinWindow::OnDpiChanged(WPARAM wParam, LPARAM lParam)
{
    const auto* proposed = reinterpret_cast<const RECT*>(lParam);
    if (!IsMonitorDpi(LOWORD(wParam)) || !proposed)
        return NotHandled();
    dpi = LOWORD(wParam);
    // Where the platform proposes; the size it proposes is the one
    // WM_GETDPISCALEDSIZE gave, the frame's.
    const SIZE size = FrameSize();
    ::SetWindowPos(window, nullptr, proposed->left, proposed->top, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    for (const PlacedControl& entry : placed)
        if (entry.control)
            PlaceControl(entry.control, entry.design);
    staticLayersStale = true;
    Compose();
    return Handled(0);
}

MessageResult LayeredSkinWindow::OnShowWindow(WPARAM wParam, LPARAM lParam)
{
    LRESULT result = ::DefWindowProcW(window, WM_SHOWWINDOW, wParam, lParam);
    if (!fadeStarted) {
        fadeStarted = true;
        UniqueKernelHandle fade(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &FadeIn,
                                                                          static_cast<HWND>(window), 0, nullptr)));
        if (!fade) {
            // Without its fade the window would stay invisible.
            alpha = 255;
            Compose();
        }
    }
    return Handled(result);
}

void LayeredSkinWindow::BeginDrag(LPARAM lParam)
{
    RECT client = {};
    ::GetClientRect(window, &client);
    POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (::PtInRect(&client, point))
        ::SendMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
}

void LayeredSkinWindow::HookChildren(HWND parent)
{
    for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        window_hooks::Install(child, &ChildHookProc, static_cast<LayeredPainter*>(this));
        HookChildren(child);
    }
}

void LayeredSkinWindow::UnhookChildren(HWND parent)
{
    for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        window_hooks::Release(child, &ChildHookProc);
        UnhookChildren(child);
    }
}

LRESULT CALLBACK LayeredSkinWindow::ChildHookProc(HWND child, UINT message, WPARAM wParam, LPARAM lParam)
{
    window_hooks::Hook hook;
    if (!window_hooks::Find(child, &ChildHookProc, hook))
        return ::DefWindowProcW(child, message, wParam, lParam);
    const bool changes = MayChangeLook(message);
    if (changes && hook.data)
        static_cast<LayeredPainter*>(hook.data)->ChildChanged(child);
    LRESULT result = ::CallWindowProcW(hook.previous, child, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        window_hooks::Forget(child, &ChildHookProc);
        return result;
    }
    // Also after: the handling itself may have changed the state it shows.
    if (changes && window_hooks::Find(child, &ChildHookProc, hook) && hook.data)
        static_cast<LayeredPainter*>(hook.data)->ChildChanged(child);
    // The child has painted itself; the window shows it only through a new
    // pass. The painter is looked up again: the child's own handling may have
    // let go of it.
    if ((message == WM_PAINT || (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC)) &&
        window_hooks::Find(child, &ChildHookProc, hook) && hook.data)
        static_cast<LayeredPainter*>(hook.data)->Compose();
    return result;
}

unsigned __stdcall LayeredSkinWindow::FadeIn(void* param)
{
    // Only the handle travels: the window may be gone (and its object with it)
    // before the fade ends, and then the message simply fails.
    HWND target = static_cast<HWND>(param);
    // Each step answers the alpha it reached; 0 when the window is gone.
    for (LRESULT reached = 0; reached < 255;) {
        reached = ::SendMessageW(target, FadeStepMessage(), 0, 0);
        if (reached == 0)
            break;
        ::Sleep(kFadeStepMs);
    }
    return 0;
}

void LayeredSkinWindow::Compose()
{
    HWND target = window;
    if (!target || !::IsWindow(target))
        return;
    if (!OnOwnThread(target)) {
        auto pass = [this] { Compose(); };
        InvokeOnWindowThread(&CallTask<decltype(pass)>, &pass, false);
        return;
    }
    bool idle = false;
    if (!painting.compare_exchange_strong(idle, true))
        return;
    SkinFrame& next = shown == &frames[0] ? frames[1] : frames[0];
    if (BuildGuarded(next))
        PushFrame(next);
    painting = false;
}

bool LayeredSkinWindow::BuildFrame(SkinFrame& frame)
{
    // The cache and the capture bitmap serve one build at a time.
    bool idle = false;
    if (!painting.compare_exchange_strong(idle, true))
        return false;
    const bool built = BuildGuarded(frame);
    painting = false;
    return built;
}

bool LayeredSkinWindow::BuildGuarded(SkinFrame& frame)
{
    SIZE size = FrameSize();
    if (!RefreshStaticLayers(size))
        return false;
    if ((frame.Width() != size.cx || frame.Height() != size.cy) && !frame.Create(size.cx, size.cy))
        return false;
    // Every pixel of the frame is written again: nothing of the last pass stays.
    if (!frame.CopyPixelsFrom(staticLayers))
        return false;
    GpGraphics* created = nullptr;
    GdipCreateFromHDC(frame.Dc(), &created);
    UniqueGpGraphics graphics(created);
    if (!graphics)
        return false;

    GdipSetSmoothingMode(graphics.get(), staticSmoothing);
    GdipSetTextRenderingHint(graphics.get(), staticTextHint);
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        DrawChild(graphics.get(), frame.Dc(), child);
    DrawAfterChildren(graphics.get());

    graphics.reset();
    ::GdiFlush();
    return true;
}

bool LayeredSkinWindow::RefreshStaticLayers(SIZE size)
{
    // Taken before drawing: an invalidation that comes during the drawing
    // stays for the next pass.
    const bool stale = staticLayersStale.exchange(false);
    if (!stale && staticLayers.Width() == size.cx && staticLayers.Height() == size.cy && staticLayers.Dc())
        return true;
    if (!staticLayers.Reuse(size.cx, size.cy)) {
        staticLayersStale = true;
        return false;
    }
    GpGraphics* created = nullptr;
    GdipCreateFromHDC(staticLayers.Dc(), &created);
    UniqueGpGraphics graphics(created);
    if (!graphics) {
        staticLayersStale = true;
        return false;
    }
    GdipSetSmoothingMode(graphics.get(), SmoothingModeNone);
    background.DrawTo(graphics.get(), RECT{0, 0, size.cx, size.cy});
    DrawBeforeChildren(graphics.get());
    GdipGetSmoothingMode(graphics.get(), &staticSmoothing);
    GdipGetTextRenderingHint(graphics.get(), &staticTextHint);
    graphics.reset();
    ::GdiFlush();
    return true;
}

void LayeredSkinWindow::DrawBeforeChildren(GpGraphics*) {}

void LayeredSkinWindow::DrawAfterChildren(GpGraphics*) {}

void LayeredSkinWindow::InitControls() {}

void LayeredSkinWindow::DrawChild(GpGraphics*, HDC dc, HWND child)
{
    if (!::IsWindow(child) || !::IsWindowVisible(child))
        return;
    RECT rect = {};
    ::GetWindowRect(child, &rect);
    POINT topLeft = {rect.left, rect.top};
    POINT bottomRight = {rect.right, rect.bottom};
    if (::ScreenToClient(window, &topLeft))
        ::ScreenToClient(window, &bottomRight);
    const int width = bottomRight.x - topLeft.x;
    const int height = bottomRight.y - topLeft.y;
    if (width <= 0 || height <= 0)
        return;

    const RECT where = {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    ChildCapture* cached = CaptureOf(child);
    MemoryCanvas& canvas = cached ? cached->pixels : capture;
    if (!cached || !cached->current || !::EqualRect(&cached->rect, &where)) {
        if (!canvas.Ensure(width, height))
            return;
        // Black where the child does not paint, as a new bitmap would be.
        HDC captureDc = canvas.Dc();
        ::PatBlt(captureDc, 0, 0, width, height, BLACKNESS);
        // Current from here on: a message that comes while the child prints
        // itself (a state it corrects) makes it stale again.
        if (cached) {
            cached->current = true;
            cached->rect = where;
        }
        const int state = ::SaveDC(captureDc);
        ::SendMessageW(child, WM_PRINT, reinterpret_cast<WPARAM>(captureDc), kPrintEverything);
        if (state)
            ::RestoreDC(captureDc, state);
    }
    // The capture has no alpha: the control shows opaque, as the controls
    // paint their whole rectangle.
    CopyOpaque(dc, topLeft.x, topLeft.y, width, height, canvas.Dc());
}

LayeredSkinWindow::ChildCapture* LayeredSkinWindow::CaptureOf(HWND child)
{
    // Only a hooked child tells when it changes.
    window_hooks::Hook hook;
    if (!window_hooks::Find(child, &ChildHookProc, hook) || hook.data != static_cast<LayeredPainter*>(this))
        return nullptr;
    ChildCapture* unused = nullptr;
    for (ChildCapture& entry : captures) {
        if (entry.child == child)
            return &entry;
        if ((!entry.child || !::IsWindow(entry.child)) && !unused)
            unused = &entry;
    }
    if (unused) {
        unused->child = child;
        unused->current = false;
    }
    return unused;
}

void LayeredSkinWindow::ChildChanged(HWND child)
{
    bool known = false;
    for (ChildCapture& entry : captures) {
        if (entry.child == child) {
            entry.current = false;
            known = true;
        }
    }
    // A window below a child, or one gone: any capture may show it.
    if (!known)
        for (ChildCapture& entry : captures)
            entry.current = false;
}

void LayeredSkinWindow::PushFrame(const SkinFrame& frame)
{
    RECT rect = {};
    ::GetWindowRect(window, &rect);
    POINT destination = {rect.left, rect.top};
    SIZE size = {frame.Width(), frame.Height()};
    POINT source = {0, 0};
    const BYTE constantAlpha = static_cast<BYTE>(alpha & 0xFF);
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, constantAlpha, AC_SRC_ALPHA};

    const bool partial = shown && shown != &frame && !pushAll && shownAlpha == constantAlpha &&
                         shownAt.x == destination.x && shownAt.y == destination.y;
    RECT dirty = {0, 0, size.cx, size.cy};
    if (partial) {
        dirty = frame.ChangedArea(*shown);
        if (::IsRectEmpty(&dirty)) {
            shown = &frame;
            return;
        }
    }
    UPDATELAYEREDWINDOWINFO info = {sizeof(info), nullptr, &destination, &size, frame.Dc(), &source, 0,
                                    &blend, ULW_ALPHA, partial ? &dirty : nullptr};
    if (::UpdateLayeredWindowIndirect(window, &info)) {
        const bool own = &frame == &frames[0] || &frame == &frames[1];
        shown = own ? &frame : nullptr;
        shownAlpha = constantAlpha;
        shownAt = destination;
        pushAll = false;
    } else {
        shown = nullptr;
    }
}

bool LayeredSkinWindow::InvokeOnWindowThread(void (*run)(void*), void* context, bool changesPicture)
{
    HWND target = window;
    if (!target)
        return false;
    WindowTask task = {run, context, changesPicture, false, nullptr};
    {
        const SrwExclusive hold(taskLock);
        task.next = waitingTasks;
        waitingTasks = &task;
    }
    ::SendMessageW(target, RunTaskMessage(), 0, 0);
    for (;;) {
        {
            const SrwExclusive hold(taskLock);
            if (task.done)
                return true;
            // Still waiting: the window is gone without having run it.
            for (WindowTask** at = &waitingTasks; *at; at = &(*at)->next) {
                if (*at == &task) {
                    *at = task.next;
                    return false;
                }
            }
        }
        // Taken by an earlier ring and running on the window's thread now.
        ::Sleep(1);
    }
}

void LayeredSkinWindow::RunWaitingTasks()
{
    for (;;) {
        WindowTask* task = nullptr;
        {
            const SrwExclusive hold(taskLock);
            task = waitingTasks;
            if (!task)
                return;
            waitingTasks = task->next;
        }
        task->run(task->context);
        if (task->changesPicture)
            staticLayersStale = true;
        const SrwExclusive hold(taskLock);
        task->done = true;
    }
}

void LayeredSkinWindow::SetWindowIcons(UINT id)
{
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    UniqueIcon bigOne(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                                   LR_DEFAULTCOLOR)));
    UniqueIcon smallOne(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON,
                                                     ::GetSystemMetrics(SM_CXSMICON),
                                                     ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR)));
    ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigOne.get()));
    ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallOne.get()));
    // The window holds the new icons now; the old ones can go.
    bigIcon = std::move(bigOne);
    smallIcon = std::move(smallOne);
}

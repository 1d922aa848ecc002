#include "ui/LayeredSkinWindow.h"

#include "res/ResourceIds.h"
#include "ui/ControlScaleMessage.h"
#include "ui/DialogBinding.h"
#include "ui/DpiScale.h"
#include "ui/NotificationReflection.h"
#include "ui/PaintScope.h"
#include "ui/WindowDpi.h"
#include "ui/WindowHooks.h"
#include "ui/WindowPlacement.h"

#include <windowsx.h>

namespace {

// WM_GETDPISCALEDSIZE (Windows 10 1703 on): the size the window wants at a DPI.
constexpr UINT kGetDpiScaledSize = 0x02E4;

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
        self->composer.PushAllNext();
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
    // Registered, so no template or control message can collide with them.
    if (message == FadeIn::StepMessage()) {
        const int alpha = fade.Step();
        Compose();
        return Handled(alpha);
    }
    if (message == WindowTasks::RingMessage()) {
        tasks.RunWaiting();
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
    composer.InvalidateStaticLayers();
    Compose();
    return Handled(0);
}

MessageResult LayeredSkinWindow::OnShowWindow(WPARAM wParam, LPARAM lParam)
{
    LRESULT result = ::DefWindowProcW(window, WM_SHOWWINDOW, wParam, lParam);
    if (!fade.Start(window))
        Compose();
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

void LayeredSkinWindow::Compose()
{
    SkinFrame* next = composer.BeginPass();
    if (!next)
        return;
    if (window && composer.Build(*next, window, FrameSize(), *this))
        PushFrame(*next);
    composer.EndPass();
}

bool LayeredSkinWindow::BuildFrame(SkinFrame& frame)
{
    if (!composer.BeginPass())
        return false;
    const bool built = window && composer.Build(frame, window, FrameSize(), *this);
    composer.EndPass();
    return built;
}

void LayeredSkinWindow::PushFrame(const SkinFrame& frame)
{
    composer.Push(window, frame, static_cast<BYTE>(fade.Alpha()));
}

void LayeredSkinWindow::DrawStaticLayers(GpGraphics* graphics, SIZE size)
{
    background.DrawTo(graphics, RECT{0, 0, size.cx, size.cy});
    DrawBeforeChildren(graphics);
}

bool LayeredSkinWindow::Watches(HWND child)
{
    window_hooks::Hook hook;
    return window_hooks::Find(child, &ChildHookProc, hook) && hook.data == static_cast<LayeredPainter*>(this);
}

void LayeredSkinWindow::DrawBeforeChildren(GpGraphics*) {}

void LayeredSkinWindow::InitControls() {}

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

#include "ui/SubclassedControl.h"

#include <commctrl.h>

namespace {
// One subclass id for every control object of this program.
constexpr UINT_PTR kControlSubclassId = 0x4B43; // "KC"
} // namespace

bool SubclassedControl::Attach(HWND dialog, int itemId)
{
    if (window)
        return true;
    HWND item = ::GetDlgItem(dialog, itemId);
    if (!item || !::SetWindowSubclass(item, &SubclassProc, kControlSubclassId, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    window = item;
    return true;
}

SubclassedControl::~SubclassedControl()
{
    if (window && ::IsWindow(window))
        ::RemoveWindowSubclass(window, &SubclassProc, kControlSubclassId);
}

LRESULT CALLBACK SubclassedControl::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                 UINT_PTR id, DWORD_PTR data)
{
    auto* self = reinterpret_cast<SubclassedControl*>(data);
    if (message == WM_NCDESTROY) {
        LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
        ::RemoveWindowSubclass(window, &SubclassProc, id);
        self->window = nullptr;
        return result;
    }
    MessageResult result = self->OnMessage(message, wParam, lParam);
    return result.handled ? result.value : ::DefSubclassProc(window, message, wParam, lParam);
}

#pragma once
// Binding a dialog object to the window a dialog template creates, from the
// window's very first message on (WM_SETFONT comes before WM_INITDIALOG).
// Objects wait in a process-wide registration keyed by the creating thread.

class LayeredSkinWindow;

namespace dialog_binding {

// False when there is no memory for the registration.
bool Register(LayeredSkinWindow* object);
// The object the calling thread registered last, taken out of the registration.
LayeredSkinWindow* TakeForThisThread();
// Drops every registration of the object that no window has taken.
void Cancel(LayeredSkinWindow* object);

} // namespace dialog_binding

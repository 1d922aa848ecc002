#pragma once
// The loader's window without its job: template 130, the caption, the two
// glyph buttons and the bar, in the downloading or the installing look.

#include "ui/ImageButton.h"
#include "ui/LayeredSkinWindow.h"
#include "ui/SkinProgressBar.h"

class PreviewDialog : public LayeredSkinWindow {
public:
    // Shows percent in the bar and the window text; -1 for the installing look.
    void ShowDownloading(int percent);
    void ShowInstalling();

    ImageButton minimise;
    ImageButton close;
    SkinProgressBar bar;

protected:
    MessageResult OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void InitControls() override;
    void DrawBeforeChildren(GpGraphics* graphics) override;

private:
    // Swapped on the window's thread only.
    const wchar_t* caption = L"З А Г Р У З К А";
};

#pragma once
// A dialog from template 130 built like the loader's (caption, two glyph
// buttons, the bar), without a job, recording what the tests look at.

#include "res/ResourceIds.h"
#include "ui/CaptionDrawing.h"
#include "ui/ImageButton.h"
#include "ui/LayeredSkinWindow.h"
#include "ui/SkinProgressBar.h"

#include <functional>
#include <string>
#include <vector>

class SkinTestDialog : public LayeredSkinWindow {
public:
    explicit SkinTestDialog(UINT tileId = IDP_STRIPE_TILE);
    ~SkinTestDialog() override;

    // Modeless, from template 130 of this program; false when it failed.
    bool Create(HWND owner = nullptr);
    void Destroy();

    ImageButton minimise;
    ImageButton close;
    SkinProgressBar bar;

    // Read by every pass; change it on the window's thread.
    std::wstring caption = L"З А Г Р У З К А";
    CaptionFonts fonts = DefaultCaptionFonts();
    bool captionDrawn = false;

    // What happened, in order.
    std::vector<UINT> messages;
    std::vector<int> pushedAlphas;
    std::vector<WORD> commands;
    int passes = 0;
    int pushes = 0;
    int paintMessages = 0;
    int moveRequests = 0;
    // Set: WM_NCLBUTTONDOWN is only counted, no move loop starts.
    bool swallowMoveRequests = false;
    // Called in the middle of every pass (after the children are drawn).
    std::function<void()> duringPass;

protected:
    MessageResult OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void InitControls() override;
    void DrawBeforeChildren(GpGraphics* graphics) override;
    void DrawAfterChildren(GpGraphics* graphics) override;
    void PushFrame(const SkinFrame& frame) override;
};

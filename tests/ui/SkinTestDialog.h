#pragma once
// A dialog from template 130 built like the loader's (caption, two glyph
// buttons, the bar), without a job, recording what the tests look at.

#include "res/ResourceIds.h"
#include "ui/CaptionDrawing.h"
#include "ui/ImageButton.h"
#include "ui/LayeredSkinWindow.h"
#include "ui/SkinProgressBar.h"

#include <cstdint>
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

    // Drawn into the static layers; change them on the window's thread and
    // then call InvalidateStaticLayers (RunOnWindowThread does that itself).
    std::wstring caption = L"З А Г Р У З К А";
    CaptionFonts fonts = DefaultCaptionFonts();
    bool captionDrawn = false;
    // How often the static layers were drawn.
    int staticDraws = 0;

    // What happened, in order.
    std::vector<UINT> messages;
    std::vector<int> pushedAlphas;
    std::vector<WORD> commands;
    int passes = 0;
    int pushes = 0;
    // Set: every pushed frame is copied here (top row first).
    bool keepPushed = false;
    std::vector<std::uint32_t> lastPushed;
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

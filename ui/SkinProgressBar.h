#pragma once
// The dialog's progress bar painted by the program: a grey track with a blue
// gradient fill while downloading, moving slanted stripes while installing.
// The control keeps its own range and position. It lives in a layered window
// updated as a whole, which shows it through its composition: the one paint
// is the print the composition asks for (WM_PRINT). The stripes are drawn
// once into a strip of whole tiles a tile wider than the bar; each tick
// copies the bar's width out of it at the phase. At another DPI than 96
// (the skinned window tells, ControlScaleMessage) the tile is its design
// width scaled, and the stripes move as far in the design a tick, so as fast
// to the eye.

#include "ui/MemoryCanvas.h"
#include "ui/ScaledPicture.h"
#include "ui/SubclassedControl.h"

class SkinProgressBar : public SubclassedControl {
public:
    // Timer ids: the switch arms kSwitchTimer, whose first tick starts the
    // stripe animation on kStripeTimer.
    static constexpr UINT_PTR kSwitchTimer = 1;
    static constexpr UINT_PTR kStripeTimer = 2123;
    static constexpr UINT kStripePeriodMs = 32;

    // Loads the stripe tile (resource 217 unless told otherwise).
    explicit SkinProgressBar(UINT tileId = 217);

    // Turns the bar into the stripe look: PBS_MARQUEE, PBM_SETMARQUEE (TRUE,
    // 30), timer 1 with interval 0, marquee. On the bar's own thread: timers
    // only attach to windows of the calling thread.
    void SwitchToStripes();

    bool Marquee() const { return marquee; }
    // The stripe phase and the tile's width in the bar's pixels.
    int Offset() const;
    int TileWidth() const;

protected:
    MessageResult OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // The whole bar into dc.
    void Paint(HDC dc);
    void Tick();
    // The stripes copied from the strip; false when there is no strip to
    // copy from (no tile width, no memory).
    bool PaintStripes(HDC dc, int width, int height);
    bool BuildStrip(int width, int height, int tileWidth);

    ScaledPicture tile;
    // The strip for a bar of stripWidth x stripHeight; UI thread only.
    MemoryCanvas strip;
    int stripWidth = 0;
    int stripHeight = 0;
    // The stripe phase in design pixels.
    int offset = 0;
    bool marquee = false;
    UINT dpi = 96;
};

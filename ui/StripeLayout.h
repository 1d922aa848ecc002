#pragma once
// The arithmetic of the progress bar's picture, kept pure for testing.

#include <windows.h>

// Width of the determinate fill: position / high of the track width, in
// single precision; 0 for an empty range, never more than the track.
float FillWidth(unsigned position, int high, int trackWidth);

// Where to start reading a strip of whole tiles (tile boundaries at 0, T,
// 2T, ...) so that the bar shows one tile boundary at offset: the strip's
// column phase + x then shows what the bar's column x shows. 0 for a tile
// without width.
int StripPhase(int offset, int tileWidth);

// The stripe phase after one animation tick: 2 pixels on, back to 0 once it
// has passed the bar's width. At another DPI the phase counts design pixels
// and is compared scaled (2 DPI / 96 pixels a tick on the screen).
int NextStripeOffset(int offset, int barWidth, UINT dpi = 96);

// Calls draw(left) for every stripe tile of tileWidth needed to cover a bar
// of barWidth with one tile boundary at offset: leftwards from offset, then
// rightwards. Draws nothing for a tile without width.
template <typename Draw>
void ForEachStripeTile(int offset, int barWidth, int tileWidth, Draw draw)
{
    if (tileWidth <= 0 || barWidth <= 0)
        return;
    if (offset > 0) {
        for (int right = offset; right > 0; right -= tileWidth)
            draw(right - tileWidth);
    }
    if (static_cast<unsigned>(offset) < static_cast<unsigned>(barWidth)) {
        for (int left = offset; left < barWidth; left += tileWidth)
            draw(left);
    }
}

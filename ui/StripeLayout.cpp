#include "ui/StripeLayout.h"

#include "ui/DpiScale.h"

float FillWidth(unsigned position, int high, int trackWidth)
{
    if (high <= 0 || trackWidth <= 0)
        return 0.0f;
    float width = static_cast<float>(position) / static_cast<float>(high) * static_cast<float>(trackWidth);
    return width > static_cast<float>(trackWidth) ? static_cast<float>(trackWidth) : width;
}

int StripPhase(int offset, int tileWidth)
{
    if (tileWidth <= 0)
        return 0;
    const int within = offset % tileWidth; // negative for a negative offset
    return (tileWidth - within) % tileWidth;
}

int NextStripeOffset(int offset, int barWidth, UINT dpi)
{
    offset += 2;
    if (static_cast<unsigned>(ScaleToDpi(offset, dpi)) > static_cast<unsigned>(barWidth))
        offset = 0;
    return offset;
}

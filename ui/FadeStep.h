#pragma once
// The fade-in's constant alpha after one step: 10 more, at most 255. From 0
// that gives 10, 20, ..., 250 and finally 255.

inline int NextFadeAlpha(int alpha)
{
    return alpha + 10 > 255 ? 255 : alpha + 10;
}

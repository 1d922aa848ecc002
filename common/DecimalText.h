#pragma once
// An int in decimal, as "%d" writes it. The MinGW runtime formats wide text
// with a printf engine of its own (about 25 KB of the exe) that the program
// would carry for three numbers.

#include "common/WideString.h"

inline WideString DecimalText(int value)
{
    wchar_t digits[12];
    wchar_t* const end = digits + 12;
    wchar_t* first = end;
    // In unsigned arithmetic the magnitude of INT_MIN fits.
    unsigned int magnitude = value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
    do {
        *--first = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        *--first = L'-';
    return WideString(first, end);
}

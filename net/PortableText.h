#pragma once
// Wide-text helpers for the pure parsers. They use no Windows header and no
// locale, so the parsers behave the same in the program and in native builds
// (the fuzzing targets build them with clang on Linux).

#include <cstddef>

// ASCII-only case folding: header names, schemes and month names are ASCII.
wchar_t AsciiLower(wchar_t c);
bool EqualsNoCase(const wchar_t* a, const wchar_t* b, size_t count);
bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix);

// The C library's white-space class in the "C" locale.
bool IsSpace(wchar_t c);

// Leading white space, an optional sign, then decimal digits up to the first
// other character; 0 when there is no digit. Saturates at the int range
// instead of overflowing.
int ParseSignedDecimal(const wchar_t* text);

// Decimal digits at the very start only (no space, no sign); 0 when none.
// Saturates at limit + 1 so that callers can tell "too large".
long long ParseLeadingDigits(const wchar_t* text, long long limit);

#include "net/PortableText.h"

#include <climits>

wchar_t AsciiLower(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool EqualsNoCase(const wchar_t* a, const wchar_t* b, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
        if (a[i] == L'\0')
            return true;
    }
    return true;
}

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix)
{
    for (; *prefix; ++text, ++prefix)
        if (*text == L'\0' || AsciiLower(*text) != AsciiLower(*prefix))
            return false;
    return true;
}

bool IsSpace(wchar_t c)
{
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

int ParseSignedDecimal(const wchar_t* text)
{
    while (IsSpace(*text))
        ++text;
    bool negative = false;
    if (*text == L'+' || *text == L'-')
        negative = *text++ == L'-';
    long long value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (*text - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

long long ParseLeadingDigits(const wchar_t* text, long long limit)
{
    long long value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (*text - L'0');
        if (value > limit)
            return limit + 1;
    }
    return value;
}

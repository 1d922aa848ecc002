#pragma once
// What every fuzz target shares: the input read as Windows would hold it in a
// wchar_t string, and a check that turns a broken property into a crash.
//
// wchar_t is 4 bytes on Linux and 2 on Windows. Each pair of input bytes
// (little-endian) becomes one code unit 0..0xFFFF, so NULs and lone
// surrogates reach the parsers exactly as they could on Windows. An odd last
// byte is dropped.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include "common/WideString.h"
#include <utility>
#include <vector>

namespace fuzz {

inline WideString CodeUnits(const uint8_t* data, size_t size)
{
    WideString units;
    units.reserve(size / 2);
    for (size_t i = 0; i + 1 < size; i += 2)
        units += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    return units;
}

// Several texts in one input, separated by NULs, as C strings would end
// there. The last piece takes everything left, NULs included; missing pieces
// are empty.
inline std::vector<WideString> SplitAtNul(const WideString& units, size_t count)
{
    std::vector<WideString> pieces;
    size_t start = 0;
    for (size_t i = 0; i + 1 < count; ++i) {
        const size_t end = start < units.size() ? units.find(L'\0', start) : WideString::npos;
        if (end == WideString::npos) {
            pieces.push_back(start < units.size() ? units.substr(start) : WideString());
            start = units.size();
        } else {
            pieces.push_back(units.substr(start, end - start));
            start = end + 1;
        }
    }
    pieces.push_back(start < units.size() ? units.substr(start) : WideString());
    return pieces;
}

// The text a C string of these units would hold.
inline WideString UpToNul(const WideString& units)
{
    return units.substr(0, units.find(L'\0'));
}

inline bool IsCSpace(wchar_t c)
{
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

// The text without the white space around it, as the URL parsers skip it.
inline WideString Trimmed(const WideString& text)
{
    size_t first = 0, last = text.size();
    while (first < last && IsCSpace(text[first]))
        ++first;
    while (last > first && IsCSpace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

inline wchar_t LowerAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

inline WideString LowerAscii(WideString text)
{
    for (wchar_t& c : text)
        c = LowerAscii(c);
    return text;
}

// The text with every `from` turned into `to`.
inline WideString Replaced(WideString text, wchar_t from, wchar_t to)
{
    for (wchar_t& c : text)
        if (c == from)
            c = to;
    return text;
}

// Whether the text starts with the prefix, ASCII letters in either case.
inline bool StartsWithNoCase(const WideString& text, const wchar_t* prefix)
{
    const size_t length = std::wcslen(prefix);
    return text.size() >= length && LowerAscii(text.substr(0, length)) == LowerAscii(prefix);
}

// Code units as printable ASCII with \uXXXX for the rest, for the report.
inline std::string Printable(const WideString& text, size_t limit = 200)
{
    std::string out;
    for (size_t i = 0; i < text.size() && i < limit; ++i) {
        const unsigned c = static_cast<unsigned>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", c & 0xFFFF);
            out += escaped;
        }
    }
    if (text.size() > limit)
        out += "...";
    return out;
}

// Texts printed with a broken property; each target names its inputs anew.
inline std::vector<std::pair<const char*, WideString>>& Shown()
{
    static std::vector<std::pair<const char*, WideString>> shown;
    return shown;
}

inline void Show(const char* name, const WideString& text)
{
    Shown().emplace_back(name, text);
}

inline void ForgetShown()
{
    Shown().clear();
}

// A new input as one text for each name, separated by NULs (SplitAtNul),
// the last one ending at its own NUL as a C string would. Each is shown under
// its name when a property breaks; what earlier inputs showed is forgotten.
template <size_t N>
std::array<WideString, N> Texts(const uint8_t* data, size_t size, const char* const (&names)[N])
{
    ForgetShown();
    const std::vector<WideString> pieces = SplitAtNul(CodeUnits(data, size), N);
    std::array<WideString, N> texts;
    for (size_t i = 0; i < N; ++i) {
        texts[i] = i + 1 < N ? pieces[i] : UpToNul(pieces[i]);
        Show(names[i], texts[i]);
    }
    return texts;
}

[[noreturn]] inline void Fail(const char* file, int line, const char* condition)
{
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, condition);
    for (const auto& shown : Shown())
        std::fprintf(stderr, "  %s = \"%s\"\n", shown.first, Printable(shown.second).c_str());
    std::abort();
}

} // namespace fuzz

// Aborts (a finding for libFuzzer) when a property does not hold.
#define FUZZ_REQUIRE(condition)                                                                                        \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            fuzz::Fail(__FILE__, __LINE__, #condition);                                                                \
    } while (0)

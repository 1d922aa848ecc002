// The statistics query pieces: EscapeQueryText, IdentifierPiece and
// ParamPiece on any texts (a key and a value separated by a NUL; the
// identifier is the whole input, NULs included, as a registry value can
// hold them).
//
// Beyond not crashing: what comes out is printable ASCII without space or
// "#", so it can neither end the query nor start a header line; and, for a
// text without "%" of its own, decoding the percent escapes and then UTF-8
// gives back the text (a lone surrogate as U+FFFD), so nothing is lost.

#include "stats/StatsUrl.h"
#include "tests/fuzz/FuzzInput.h"

#include <string>
#include <vector>

namespace {

void RequireQuerySafe(const WideString& text)
{
    for (wchar_t c : text)
        FUZZ_REQUIRE(c > L' ' && c < 0x7F && c != L'#');
}

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

// Percent escapes to bytes, then UTF-8 to code points; -1 marks bad input.
std::vector<long> Decoded(const WideString& escaped)
{
    std::vector<unsigned> bytes;
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != L'%') {
            bytes.push_back(static_cast<unsigned>(escaped[i]));
            continue;
        }
        const int high = i + 2 < escaped.size() ? HexValue(escaped[i + 1]) : -1;
        const int low = i + 2 < escaped.size() ? HexValue(escaped[i + 2]) : -1;
        if (high < 0 || low < 0)
            return {-1};
        bytes.push_back(static_cast<unsigned>(high * 16 + low));
        i += 2;
    }
    std::vector<long> points;
    for (size_t i = 0; i < bytes.size();) {
        const unsigned lead = bytes[i];
        const int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
        if (extra < 0 || i + extra >= bytes.size())
            return {-1};
        long point = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80)
                return {-1};
            point = (point << 6) | (bytes[i + k] & 0x3F);
        }
        points.push_back(point);
        i += extra + 1;
    }
    return points;
}

std::vector<long> CodePoints(const WideString& text)
{
    std::vector<long> points;
    for (size_t i = 0; i < text.size(); ++i) {
        const long c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            points.push_back(0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            points.push_back(c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c);
        }
    }
    return points;
}

void CheckEscaped(const WideString& text)
{
    const WideString escaped = EscapeQueryText(text);
    RequireQuerySafe(escaped);
    if (text.find(L'%') == WideString::npos)
        FUZZ_REQUIRE(Decoded(escaped) == CodePoints(text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::ForgetShown();
    const WideString units = fuzz::CodeUnits(data, size);
    fuzz::Show("text", units);

    CheckEscaped(units);
    CheckEscaped(fuzz::Replaced(units, L'%', L'x'));

    const WideString id = IdentifierPiece(units);
    RequireQuerySafe(id);
    FUZZ_REQUIRE(id.compare(0, 5, L"GUID=") == 0);

    const std::vector<WideString> pieces = fuzz::SplitAtNul(units, 2);
    const WideString param = ParamPiece(pieces[0], pieces[1]);
    RequireQuerySafe(param);
    FUZZ_REQUIRE(param.compare(0, 1, L"&") == 0);
    // The piece is cut to its longest size before escaping, never inside an
    // escape: it decodes to the start of the plain piece.
    WideString plain = L"&" + pieces[0] + L"=" + pieces[1];
    if (plain.find(L'%') == WideString::npos) {
        plain.resize(plain.size() < kMaxStatsPiece ? plain.size() : kMaxStatsPiece);
        FUZZ_REQUIRE(Decoded(param) == CodePoints(plain));
    }
    return 0;
}

#include "stats/StatsUrl.h"

#include "FixedHosts.h"
#include "common/DecimalText.h"

namespace {

WideString CutPiece(WideString piece)
{
    if (piece.size() > kMaxStatsPiece)
        piece.resize(kMaxStatsPiece);
    return piece;
}

bool NeedsEscape(wchar_t c)
{
    return c <= 0x20 || c == 0x7F || c == L'#' || c > 0x7F;
}

void AppendPercent(WideString& out, unsigned byte)
{
    static const wchar_t hex[] = L"0123456789ABCDEF";
    out += L'%';
    out += hex[(byte >> 4) & 0xF];
    out += hex[byte & 0xF];
}

} // namespace

WideString StatsEndpoint()
{
    return WideString(L"http://") + KOVRA_STATS_HOST + L"/update/2/version.txt?";
}

WideString EscapeQueryText(const WideString& text)
{
    WideString out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (!NeedsEscape(c)) {
            out += c;
            continue;
        }
        unsigned codePoint = c;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            codePoint = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            codePoint = 0xFFFD; // a lone surrogate has no UTF-8 form
        }
        if (codePoint < 0x80) {
            AppendPercent(out, codePoint);
        } else if (codePoint < 0x800) {
            AppendPercent(out, 0xC0 | (codePoint >> 6));
            AppendPercent(out, 0x80 | (codePoint & 0x3F));
        } else if (codePoint < 0x10000) {
            AppendPercent(out, 0xE0 | (codePoint >> 12));
            AppendPercent(out, 0x80 | ((codePoint >> 6) & 0x3F));
            AppendPercent(out, 0x80 | (codePoint & 0x3F));
        } else {
            AppendPercent(out, 0xF0 | (codePoint >> 18));
            AppendPercent(out, 0x80 | ((codePoint >> 12) & 0x3F));
            AppendPercent(out, 0x80 | ((codePoint >> 6) & 0x3F));
            AppendPercent(out, 0x80 | (codePoint & 0x3F));
        }
    }
    return out;
}

WideString IdentifierPiece(const WideString& clientId)
{
    return EscapeQueryText(CutPiece(L"GUID=" + clientId));
}

WideString ParamPiece(const WideString& key, const WideString& value)
{
    return EscapeQueryText(CutPiece(L"&" + key + L"=" + value));
}

WideString ExitCodeText(int exitCode)
{
    return DecimalText(exitCode);
}

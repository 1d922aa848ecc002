// The number readers (QueryNumber's ParseSignedDecimal, ParseLeadingDigits)
// and what the download reads with them: Content-Range and Content-Type.
//
// Each is checked against a reference that works another way: the digits are
// collected as text and compared with the limits as text, so no arithmetic of
// the parsers is repeated. Overflowing numbers must saturate, never wrap.

#include "net/HeaderLines.h"
#include "net/PortableText.h"
#include "tests/fuzz/FuzzInput.h"

#include <climits>
#include <cwchar>
#include <string>

namespace {

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// The leading decimal digits from `at`, without leading zeros ("" for none or
// only zeros).
WideString DigitsAt(const WideString& text, size_t at)
{
    WideString digits;
    for (; at < text.size() && IsDigit(text[at]); ++at)
        if (!(digits.empty() && text[at] == L'0'))
            digits += text[at];
    return digits;
}

// a < b for digit texts without leading zeros.
bool Below(const WideString& a, const WideString& b)
{
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

long long ValueOf(const WideString& digits)
{
    long long value = 0;
    for (wchar_t c : digits)
        value = value * 10 + (c - L'0');
    return value;
}

int ReferenceSigned(const WideString& text)
{
    size_t at = 0;
    while (at < text.size() && fuzz::IsCSpace(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == L'+' || text[at] == L'-'))
        negative = text[at++] == L'-';
    const WideString digits = DigitsAt(text, at);
    if (negative)
        return Below(digits, L"2147483648") ? static_cast<int>(-ValueOf(digits)) : INT_MIN;
    return Below(digits, L"2147483648") ? static_cast<int>(ValueOf(digits)) : INT_MAX;
}

long long ReferenceLeading(const WideString& text, long long limit)
{
    const WideString digits = DigitsAt(text, 0);
    const WideString bound = std::to_wstring(limit).c_str();
    return Below(bound, digits) ? limit + 1 : ValueOf(digits);
}

// The number whose digits start at `at`, or -1 when it does not fit an int.
int IntAt(const WideString& text, size_t at)
{
    const WideString digits = DigitsAt(text, at);
    return Below(L"2147483647", digits) ? -1 : static_cast<int>(ValueOf(digits));
}

void CheckContentRange(const WideString& text)
{
    const ContentRange range = ParseContentRange(text.c_str());
    const WideString first = DigitsAt(text, 0);
    const bool valid = !text.empty() && IsDigit(text[0]) && !Below(L"2147483647", first);
    FUZZ_REQUIRE(range.valid == valid);
    if (!valid) {
        FUZZ_REQUIRE(range.first == 0 && range.last == -1 && range.total == -1);
        return;
    }
    FUZZ_REQUIRE(range.first == ValueOf(first));
    size_t dash = 0;
    while (dash < text.size() && IsDigit(text[dash]))
        ++dash;
    const bool hasLast = dash + 1 < text.size() && text[dash] == L'-' && IsDigit(text[dash + 1]);
    FUZZ_REQUIRE(range.last == (hasLast ? IntAt(text, dash + 1) : -1));
    const size_t slash = text.find(L'/');
    const bool hasTotal = slash != WideString::npos && slash + 1 < text.size() && IsDigit(text[slash + 1]);
    FUZZ_REQUIRE(range.total == (hasTotal ? IntAt(text, slash + 1) : -1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto [text] = fuzz::Texts(data, size, {"text"});

    FUZZ_REQUIRE(ParseSignedDecimal(text.c_str()) == ReferenceSigned(text));
    for (long long limit : {0LL, 9LL, 65535LL, static_cast<long long>(INT_MAX)})
        FUZZ_REQUIRE(ParseLeadingDigits(text.c_str(), limit) == ReferenceLeading(text, limit));
    CheckContentRange(text);

    // Only the first 127 units of a Content-Type value are kept.
    const WideString kept = text.substr(0, kContentTypeCapacity - 1);
    const bool isText = kept.find(L"text/html") != WideString::npos || kept.find(L"text/plain") != WideString::npos;
    FUZZ_REQUIRE(IsTextContentType(text.c_str()) == isText);
    return 0;
}

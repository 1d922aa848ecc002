#include "net/HeaderLines.h"

#include "net/PortableText.h"

#include <climits>
#include <cwchar>

std::vector<WideString> SplitRawHeaders(const wchar_t* block, size_t length)
{
    std::vector<WideString> lines;
    size_t start = 0;
    while (start < length && block[start] != L'\0') {
        size_t end = start;
        while (end < length && block[end] != L'\0')
            ++end;
        lines.emplace_back(block + start, end - start);
        start = end + 1;
    }
    return lines;
}

const wchar_t* FindHeaderIn(const std::vector<WideString>& lines, const wchar_t* prefix)
{
    for (const WideString& line : lines)
        if (StartsWithNoCase(line.c_str(), prefix))
            return line.c_str() + std::wcslen(prefix);
    return L"";
}

ContentRange ParseContentRange(const wchar_t* value)
{
    ContentRange range;
    if (*value < L'0' || *value > L'9')
        return range;
    const long long first = ParseLeadingDigits(value, INT_MAX);
    if (first > INT_MAX)
        return range;
    range.valid = true;
    range.first = static_cast<int>(first);
    const wchar_t* dash = value;
    while (*dash >= L'0' && *dash <= L'9')
        ++dash;
    if (dash[0] == L'-' && dash[1] >= L'0' && dash[1] <= L'9') {
        const long long last = ParseLeadingDigits(dash + 1, INT_MAX);
        if (last <= INT_MAX)
            range.last = static_cast<int>(last);
    }
    const wchar_t* slash = std::wcschr(value, L'/');
    if (slash && slash[1] >= L'0' && slash[1] <= L'9') {
        const long long total = ParseLeadingDigits(slash + 1, INT_MAX);
        if (total <= INT_MAX)
            range.total = static_cast<int>(total);
    }
    return range;
}

int ParseUnsatisfiedRange(const wchar_t* value)
{
    if (value[0] != L'*' || value[1] != L'/' || value[2] < L'0' || value[2] > L'9')
        return -1;
    const long long total = ParseLeadingDigits(value + 2, INT_MAX);
    return total <= INT_MAX ? static_cast<int>(total) : -1;
}

bool IsTextContentType(const wchar_t* value)
{
    const WideString kept(value, std::wcslen(value) < kContentTypeCapacity ? std::wcslen(value) : kContentTypeCapacity - 1);
    return kept.find(L"text/html") != WideString::npos || kept.find(L"text/plain") != WideString::npos;
}

WideString StrongEntityTag(const wchar_t* value)
{
    const size_t length = std::wcslen(value);
    if (length < 2 || length >= kEntityTagCapacity || value[0] != L'"' || value[length - 1] != L'"')
        return WideString();
    // Nothing that could end the header line or the tag early.
    for (size_t i = 1; i + 1 < length; ++i)
        if (value[i] < 0x21 || value[i] > 0x7E || value[i] == L'"')
            return WideString();
    return WideString(value, length);
}

#include "net/HttpDate.h"

#include "net/PortableText.h"

#include <climits>
#include <ctime>
#include <string>
#include <vector>

namespace {

// The largest value the Windows CRT's 64-bit conversion accepts
// (3000-12-31 23:59:59); native builds mirror it.
const long long kLastAcceptedTime = 32535215999LL;

long long LocalTimeValue(std::tm* fields)
{
#ifdef _WIN32
    return _mktime64(fields);
#else
    return static_cast<long long>(std::mktime(fields));
#endif
}

std::vector<std::wstring> Tokens(const wchar_t* text)
{
    std::vector<std::wstring> tokens;
    std::wstring token;
    for (const wchar_t* p = text;; ++p) {
        if (*p == L'\0' || *p == L' ' || *p == L':') {
            if (!token.empty())
                tokens.push_back(token);
            token.clear();
            if (*p == L'\0')
                return tokens;
        } else {
            token += *p;
        }
    }
}

int MonthIndex(const std::wstring& token)
{
    static const wchar_t* const months[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                            L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    for (int i = 0; i < 12; ++i)
        if (token.size() == 3 && EqualsNoCase(token.c_str(), months[i], 3))
            return i;
    return 0;
}

} // namespace

long long ParseHttpDate(const wchar_t* text)
{
    std::tm fields{};
    const std::vector<std::wstring> tokens = Tokens(text ? text : L"");
    for (size_t i = 1; i < tokens.size() && i <= 6; ++i) {
        const int value = ParseSignedDecimal(tokens[i].c_str());
        switch (i) {
        case 1: fields.tm_mday = value; break;
        case 2: fields.tm_mon = MonthIndex(tokens[i]); break;
        case 3: fields.tm_year = value < INT_MIN + 1900 ? INT_MIN : value - 1900; break;
        case 4: fields.tm_hour = value; break;
        case 5: fields.tm_min = value; break;
        case 6: fields.tm_sec = value; break;
        }
    }
    fields.tm_isdst = 0;
    const long long value = LocalTimeValue(&fields);
    if (value < 0 || value > kLastAcceptedTime)
        return kInvalidTime;
    return value;
}

#include "net/HttpDate.h"

#include "common/WideString.h"
#include "net/PortableText.h"

#include <climits>
#include <ctime>
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

bool UtcFields(long long time, std::tm* fields)
{
#ifdef _WIN32
    const __time64_t value = time;
    return _gmtime64_s(fields, &value) == 0;
#else
    const std::time_t value = static_cast<std::time_t>(time);
    return gmtime_r(&value, fields) != nullptr;
#endif
}

// Two digits, or four for a year.
void AppendNumber(WideString& text, int value, int digits)
{
    for (int unit = digits == 4 ? 1000 : 10; unit > 0; unit /= 10)
        text += static_cast<wchar_t>(L'0' + value / unit % 10);
}

std::vector<WideString> Tokens(const wchar_t* text)
{
    std::vector<WideString> tokens;
    WideString token;
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

const wchar_t* const kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                  L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};

int MonthIndex(const WideString& token)
{
    for (int i = 0; i < 12; ++i)
        if (token.size() == 3 && EqualsNoCase(token.c_str(), kMonths[i], 3))
            return i;
    return 0;
}

} // namespace

long long ParseHttpDate(const wchar_t* text)
{
    std::tm fields{};
    const std::vector<WideString> tokens = Tokens(text ? text : L"");
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

WideString FormatHttpDate(long long time)
{
    std::tm fields{};
    if (time <= kNoFileTime || time > kLastAcceptedTime || !UtcFields(time, &fields))
        return WideString();
    // ParseHttpDate reads the fields as local time with daylight saving off:
    // written as UTC they would read back shifted by the zone's offset, so
    // they are written shifted back by it.
    std::tm local = fields;
    local.tm_isdst = 0;
    const long long offset = LocalTimeValue(&local) - time;
    if (!UtcFields(time - offset, &fields))
        return WideString();
    static const wchar_t* const days[] = {L"Sun", L"Mon", L"Tue", L"Wed", L"Thu", L"Fri", L"Sat"};
    WideString text = days[fields.tm_wday % 7];
    text += L", ";
    AppendNumber(text, fields.tm_mday, 2);
    text += L' ';
    text += kMonths[fields.tm_mon % 12];
    text += L' ';
    AppendNumber(text, fields.tm_year + 1900, 4);
    text += L' ';
    AppendNumber(text, fields.tm_hour, 2);
    text += L':';
    AppendNumber(text, fields.tm_min, 2);
    text += L':';
    AppendNumber(text, fields.tm_sec, 2);
    text += L" GMT";
    return text;
}

// ParseHttpDate on any header value. Beyond not crashing: the result is the
// invalid time or a moment between 1970 and 3000, that moment written in
// the server form reads back as the same value, and FormatHttpDate writes
// exactly that form.
//
// The time zone is fixed to one with daylight saving (Central European), so
// that the "daylight saving off" reading is exercised: the fields are always
// taken as standard time, one hour ahead of UTC.

#include "net/HttpDate.h"
#include "tests/fuzz/FuzzInput.h"

#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <string>

namespace {

const long long kLastAccepted = 32535215999LL; // 3000-12-31 23:59:59 UTC
const long long kStandardOffset = 3600;

WideString ServerForm(long long value)
{
    static const wchar_t* const days[] = {L"Sun", L"Mon", L"Tue", L"Wed", L"Thu", L"Fri", L"Sat"};
    static const wchar_t* const months[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                            L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    const std::time_t wall = static_cast<std::time_t>(value + kStandardOffset);
    std::tm fields{};
    if (!gmtime_r(&wall, &fields))
        std::abort();
    wchar_t text[64];
    std::swprintf(text, 64, L"%ls, %02d %ls %d %02d:%02d:%02d GMT", days[fields.tm_wday], fields.tm_mday,
                  months[fields.tm_mon], fields.tm_year + 1900, fields.tm_hour, fields.tm_min, fields.tm_sec);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto [text] = fuzz::Texts(data, size, {"text"});
    const long long value = ParseHttpDate(text.c_str());
    if (value == kInvalidTime)
        return 0;
    FUZZ_REQUIRE(value >= 0 && value <= kLastAccepted);

    const std::time_t moment = static_cast<std::time_t>(value);
    std::tm utc{};
    FUZZ_REQUIRE(gmtime_r(&moment, &utc) != nullptr);
    FUZZ_REQUIRE(utc.tm_year + 1900 >= 1970 && utc.tm_year + 1900 <= 3000);

    const WideString canonical = ServerForm(value);
    fuzz::Show("canonical", canonical);
    FUZZ_REQUIRE(ParseHttpDate(canonical.c_str()) == value);
    // The program writes a stamp back as the server would have sent it
    // (If-Range compares the text).
    if (value != kNoFileTime)
        FUZZ_REQUIRE(FormatHttpDate(value) == canonical);
    return 0;
}

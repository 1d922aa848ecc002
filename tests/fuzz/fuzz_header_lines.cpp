// SplitRawHeaders over any raw header block, and FindHeaderIn over its lines
// with the prefixes the download uses.
//
// The block sits in a heap buffer of exactly its length, as the platform's
// buffer can be full to the last unit without a terminator: a read past it is
// an AddressSanitizer finding. Beyond that: the lines are the block's
// zero-terminated texts in order, up to the first empty one; a header found
// lies inside the first line that starts with the prefix (in any letter
// case), right after the prefix, and an empty result means no line has it
// (or its value is empty); a strong entity tag taken from a value is all of
// it and can go back in a request line as it is.

#include "net/HeaderLines.h"
#include "tests/fuzz/FuzzInput.h"

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

void CheckLookup(const std::vector<WideString>& lines, const wchar_t* prefix)
{
    const wchar_t* found = FindHeaderIn(lines, prefix);
    FUZZ_REQUIRE(found != nullptr);
    size_t first = 0;
    while (first < lines.size() && !fuzz::StartsWithNoCase(lines[first], prefix))
        ++first;
    if (first == lines.size()) {
        FUZZ_REQUIRE(found[0] == L'\0');
        for (const WideString& line : lines)
            FUZZ_REQUIRE(found < line.c_str() || found > line.c_str() + line.size());
        return;
    }
    FUZZ_REQUIRE(found == lines[first].c_str() + std::wcslen(prefix));
    FUZZ_REQUIRE(WideString(found) == lines[first].substr(std::wcslen(prefix)));
}

// A strong tag is the whole value, quoted, and can go back in an If-Range
// line as it is: visible ASCII, no quote inside, never a weak one.
void CheckEntityTag(const WideString& value)
{
    const WideString tag = StrongEntityTag(value.c_str());
    if (tag.empty())
        return;
    FUZZ_REQUIRE(tag == value && tag.size() >= 2 && tag.size() < kEntityTagCapacity);
    for (size_t i = 0; i < tag.size(); ++i)
        FUZZ_REQUIRE((tag[i] == L'"') == (i == 0 || i + 1 == tag.size()) && tag[i] > L' ' && tag[i] < 0x7F);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::ForgetShown();
    const WideString units = fuzz::CodeUnits(data, size);
    fuzz::Show("block", units);
    std::unique_ptr<wchar_t[]> block(new wchar_t[units.size()]);
    units.copy(block.get(), units.size());

    const std::vector<WideString> lines = SplitRawHeaders(block.get(), units.size());
    size_t at = 0;
    for (const WideString& line : lines) {
        FUZZ_REQUIRE(!line.empty());
        FUZZ_REQUIRE(line.find(L'\0') == WideString::npos);
        FUZZ_REQUIRE(units.compare(at, line.size(), line) == 0);
        at += line.size();
        FUZZ_REQUIRE(at == units.size() || units[at] == L'\0');
        ++at;
    }
    // It stopped at an empty line or at the end of the block.
    FUZZ_REQUIRE(at >= units.size() || units[at] == L'\0');

    for (const wchar_t* prefix : {L"Location: ", L"Content-Type: ", L"Last-Modified: ", L"Content-Range: bytes ",
                                  L"Content-Length: ", L"ETag: ", L"", L"X"})
        CheckLookup(lines, prefix);
    for (const WideString& line : lines)
        CheckEntityTag(line);
    return 0;
}

// SplitRawHeaders over any raw header block, and FindHeaderIn over its lines
// with the prefixes the download uses.
//
// The block sits in a heap buffer of exactly its length, as the platform's
// buffer can be full to the last unit without a terminator: a read past it is
// an AddressSanitizer finding. Beyond that: the lines are the block's
// zero-terminated texts in order, up to the first empty one; a header found
// lies inside the first line that starts with the prefix (in any letter
// case), right after the prefix, and an empty result means no line has it
// (or its value is empty).

#include "net/HeaderLines.h"
#include "tests/fuzz/FuzzInput.h"

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

bool StartsWithNoCase(const std::wstring& line, const wchar_t* prefix)
{
    const size_t length = std::wcslen(prefix);
    return line.size() >= length && fuzz::LowerAscii(line.substr(0, length)) == fuzz::LowerAscii(prefix);
}

void CheckLookup(const std::vector<std::wstring>& lines, const wchar_t* prefix)
{
    const wchar_t* found = FindHeaderIn(lines, prefix);
    FUZZ_REQUIRE(found != nullptr);
    size_t first = 0;
    while (first < lines.size() && !StartsWithNoCase(lines[first], prefix))
        ++first;
    if (first == lines.size()) {
        FUZZ_REQUIRE(found[0] == L'\0');
        for (const std::wstring& line : lines)
            FUZZ_REQUIRE(found < line.c_str() || found > line.c_str() + line.size());
        return;
    }
    FUZZ_REQUIRE(found == lines[first].c_str() + std::wcslen(prefix));
    FUZZ_REQUIRE(std::wstring(found) == lines[first].substr(std::wcslen(prefix)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::ForgetShown();
    const std::wstring units = fuzz::CodeUnits(data, size);
    fuzz::Show("block", units);
    std::unique_ptr<wchar_t[]> block(new wchar_t[units.size()]);
    units.copy(block.get(), units.size());

    const std::vector<std::wstring> lines = SplitRawHeaders(block.get(), units.size());
    size_t at = 0;
    for (const std::wstring& line : lines) {
        FUZZ_REQUIRE(!line.empty());
        FUZZ_REQUIRE(line.find(L'\0') == std::wstring::npos);
        FUZZ_REQUIRE(units.compare(at, line.size(), line) == 0);
        at += line.size();
        FUZZ_REQUIRE(at == units.size() || units[at] == L'\0');
        ++at;
    }
    // It stopped at an empty line or at the end of the block.
    FUZZ_REQUIRE(at >= units.size() || units[at] == L'\0');

    for (const wchar_t* prefix : {L"Location: ", L"Content-Type: ", L"Last-Modified: ", L"Content-Range: bytes ",
                                  L"Content-Length: ", L"", L"X"})
        CheckLookup(lines, prefix);
    return 0;
}

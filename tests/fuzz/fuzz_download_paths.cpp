// The names a download works with: the request object, the file name taken
// from the URL path, the final and the temporary path. The input holds a
// target and a URL, separated by a NUL.
//
// Beyond not crashing: the object name is path and query, never the
// fragment, with "/" for an empty path before a query; the file name is the last segment of the path, without a query,
// within its capacity; a refused pair of paths leaves the outputs alone; an
// accepted final path is the target with backslashes, plus the file name when
// the target is a folder, the file then lying directly inside that folder;
// the temporary path is the final path and ".dul!", within 1,024 units.

#include "net/DownloadPaths.h"
#include "net/UrlParts.h"
#include "tests/fuzz/FuzzInput.h"

#include <string>

namespace {

void CheckFileName(const WideString& path)
{
    WideString name = L"sentinel";
    const bool fits = FileNameFromUrlPath(path.c_str(), &name);
    const size_t slash = path.rfind(L'/');
    WideString expected;
    if (slash != WideString::npos)
        expected = path.substr(slash + 1, path.find(L'?', slash + 1) - (slash + 1));
    if (expected.size() >= kFileNameCapacity) {
        FUZZ_REQUIRE(!fits);
        return;
    }
    FUZZ_REQUIRE(fits);
    FUZZ_REQUIRE(name == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto [target, url] = fuzz::Texts(data, size, {"target", "url"});

    const UrlParts parts(url.c_str());
    // The request line's path and query: the fragment never goes out, and a
    // query never goes out without a path before it.
    const WideString object = MakeObjectName(parts);
    const WideString query = parts.query;
    FUZZ_REQUIRE(object.size() >= query.size() &&
                 object.compare(object.size() - query.size(), query.size(), query) == 0);
    const wchar_t* path = parts.path[0] || query.empty() ? parts.path : L"/";
    FUZZ_REQUIRE(object.compare(0, object.size() - query.size(), path) == 0);

    // The path as ParseUrl gives it, and the raw text too (which may hold
    // backslashes and every other mark).
    CheckFileName(parts.path);
    CheckFileName(url);

    WideString name;
    if (!FileNameFromUrlPath(parts.path, &name))
        return 0;
    WideString finalPath = L"final untouched", tempPath = L"temp untouched";
    const bool made = MakeDownloadPaths(target.empty() ? nullptr : target.c_str(), name, &finalPath, &tempPath);
    fuzz::Show("final", finalPath);
    if (!made) {
        FUZZ_REQUIRE(finalPath == L"final untouched" && tempPath == L"temp untouched");
        return 0;
    }

    const WideString folder = fuzz::Replaced(target.empty() ? L"./" : target, L'/', L'\\');
    if (folder.back() == L'\\') {
        FUZZ_REQUIRE(finalPath.compare(0, folder.size(), folder) == 0);
        const WideString leaf = finalPath.substr(folder.size());
        FUZZ_REQUIRE(leaf == name);
        FUZZ_REQUIRE(!leaf.empty() && leaf.find(L'\\') == WideString::npos);
    } else {
        FUZZ_REQUIRE(finalPath == folder);
    }
    FUZZ_REQUIRE(finalPath.find(L'/') == WideString::npos);
    FUZZ_REQUIRE(finalPath.back() != L'\\');
    FUZZ_REQUIRE(tempPath == finalPath + L".dul!");
    FUZZ_REQUIRE(tempPath.size() < kDownloadPathCapacity);
    return 0;
}

#include "app/TextPageUrl.h"

#include <cwctype>

namespace {

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix)
{
    for (; *prefix; ++text, ++prefix)
        if (!*text || static_cast<wchar_t>(std::towlower(*text)) != *prefix)
            return false;
    return true;
}

} // namespace

bool IsWebPageUrl(const wchar_t* url)
{
    if (!url)
        return false;
    const wchar_t* rest = nullptr;
    if (StartsWithNoCase(url, L"http://"))
        rest = url + 7;
    else if (StartsWithNoCase(url, L"https://"))
        rest = url + 8;
    if (!rest || !*rest || *rest == L'/' || *rest == L'\\')
        return false;
    // Nothing that a shell or a command line could read another way.
    for (const wchar_t* c = url; *c; ++c)
        if (*c < 0x21 || *c == 0x7F || *c == L'"')
            return false;
    return true;
}

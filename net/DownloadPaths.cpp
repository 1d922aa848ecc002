#include "net/DownloadPaths.h"

#include <cwchar>

WideString MakeObjectName(const UrlParts& parts)
{
    // A request line has a path before its query ("h?x=1" asks for "/?x=1").
    const wchar_t* path = parts.path[0] || !parts.query[0] ? parts.path : L"/";
    return WideString(path) + parts.query;
}

bool FileNameFromUrlPath(const wchar_t* path, WideString* name)
{
    name->clear();
    const wchar_t* slash = std::wcsrchr(path, L'/');
    if (!slash)
        return true;
    WideString found = slash + 1;
    const size_t question = found.find(L'?');
    if (question != WideString::npos)
        found.erase(question);
    if (found.size() >= kFileNameCapacity)
        return false;
    *name = found;
    return true;
}

bool MakeDownloadPaths(const wchar_t* target, const WideString& fileName, WideString* finalPath,
                       WideString* tempPath)
{
    WideString path = (target && *target) ? target : L"./";
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    if (path.back() == L'\\')
        path += fileName;
    const WideString temp = path + kTempSuffix;
    if (path.back() == L'\\' || temp.size() >= kDownloadPathCapacity)
        return false;
    *finalPath = path;
    *tempPath = temp;
    return true;
}

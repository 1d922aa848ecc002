#include "net/DownloadPaths.h"

#include <cwchar>

std::wstring MakeObjectName(const UrlParts& parts)
{
    return std::wstring(parts.path) + parts.query;
}

bool FileNameFromUrlPath(const wchar_t* path, std::wstring* name)
{
    name->clear();
    const wchar_t* slash = std::wcsrchr(path, L'/');
    if (!slash)
        return true;
    std::wstring found = slash + 1;
    const size_t question = found.find(L'?');
    if (question != std::wstring::npos)
        found.erase(question);
    if (found.size() >= kFileNameCapacity)
        return false;
    *name = found;
    return true;
}

bool MakeDownloadPaths(const wchar_t* target, const std::wstring& fileName, std::wstring* finalPath,
                       std::wstring* tempPath)
{
    std::wstring path = (target && *target) ? target : L"./";
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    if (path.back() == L'\\')
        path += fileName;
    const std::wstring temp = path + kTempSuffix;
    if (path.back() == L'\\' || temp.size() >= kDownloadPathCapacity)
        return false;
    *finalPath = path;
    *tempPath = temp;
    return true;
}

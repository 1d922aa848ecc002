#include "tests/support/ServerLog.h"

#include "tests/support/HarnessEnv.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace harness {

namespace {

std::string Unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) && std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::strtol(text.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

bool EqualNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string ReadFrom(const std::wstring& path, long long offset)
{
    std::string data;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return data;
    if (_fseeki64(f, offset, SEEK_SET) == 0) {
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            data.append(buffer, n);
    }
    std::fclose(f);
    return data;
}

} // namespace

std::string LogEntry::Header(const std::string& name) const
{
    for (const auto& header : headers)
        if (EqualNoCase(header.first, name))
            return header.second;
    return std::string();
}

bool LogEntry::HasHeader(const std::string& name) const
{
    for (const auto& header : headers)
        if (EqualNoCase(header.first, name))
            return true;
    return false;
}

ServerLog::ServerLog(const std::string& which)
    : path_(Dir() + (which == "nginx" ? L"\\nginx\\access.log" : L"\\scripted.log"))
{
    Mark();
}

void ServerLog::Mark()
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    mark_ = 0;
    if (::GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data))
        mark_ = (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::vector<LogEntry> ServerLog::Entries() const
{
    std::vector<LogEntry> entries;
    const std::string text = ReadFrom(path_, mark_);
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos)
            break; // an unfinished last line is read next time
        const std::vector<std::string> fields = SplitTabs(text.substr(start, end - start));
        start = end + 1;
        if (fields.size() < 5)
            continue;
        LogEntry entry;
        entry.server = fields[0];
        entry.requestLine = Unescape(fields[2]);
        const size_t space1 = entry.requestLine.find(' ');
        entry.method = entry.requestLine.substr(0, space1);
        if (space1 != std::string::npos) {
            const size_t space2 = entry.requestLine.find(' ', space1 + 1);
            entry.target = entry.requestLine.substr(space1 + 1, space2 == std::string::npos ? std::string::npos : space2 - space1 - 1);
        }
        entry.status = std::atoi(fields[3].c_str());
        entry.bodyBytesSent = std::atoll(fields[4].c_str());
        for (size_t i = 5; i < fields.size(); ++i) {
            const std::string header = Unescape(fields[i]);
            const size_t colon = header.find(": ");
            if (colon == std::string::npos)
                continue;
            std::string value = header.substr(colon + 2);
            if (entry.server == "nginx" && value == "-")
                continue;
            entry.headers.emplace_back(header.substr(0, colon), value);
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<LogEntry> ServerLog::WaitFor(size_t count, unsigned timeoutMs) const
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        std::vector<LogEntry> entries = Entries();
        if (entries.size() >= count || ::GetTickCount64() >= deadline)
            return entries;
        ::Sleep(50);
    }
}

} // namespace harness

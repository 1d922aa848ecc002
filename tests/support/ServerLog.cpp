#include "tests/support/ServerLog.h"

#include "tests/support/HarnessEnv.h"
#include "tests/support/ScriptedServer.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>

namespace harness {

namespace {

bool EqualNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The next "<length>:<bytes>" field of text at `at`.
std::string Field(const std::string& text, size_t& at)
{
    const size_t colon = text.find(':', at);
    const size_t length = std::strtoul(text.c_str() + at, nullptr, 10);
    at = colon + 1 + length;
    return text.substr(colon + 1, length);
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
    : which_(which), path_(Dir() + (which == "nginx" ? L"\\nginx\\access.log" : L"\\scripted.log"))
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

std::vector<LogEntry> ServerLog::Entries(const std::string& match) const
{
    std::vector<LogEntry> entries;
    std::string text;
    if (!Control(L"/__control/log", which_ + " " + std::to_string(mark_) + " " + match, &text))
        return entries;
    for (size_t at = 0; at < text.size();) {
        LogEntry entry;
        entry.server = Field(text, at);
        entry.requestLine = Field(text, at);
        entry.method = Field(text, at);
        entry.target = Field(text, at);
        entry.status = std::atoi(Field(text, at).c_str());
        entry.bodyBytesSent = std::atoll(Field(text, at).c_str());
        for (int headers = std::atoi(Field(text, at).c_str()); headers > 0; --headers) {
            std::string name = Field(text, at);
            entry.headers.emplace_back(std::move(name), Field(text, at));
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace harness

#include "tests/net/NetTestSupport.h"

#include <doctest.h>

#include "FixedHosts.h"
#include "common/UniqueHandle.h"
#include "net/DownloadEvents.h"
#include "net/FileTimes.h"
#include "tests/support/HarnessEnv.h"
#include "tests/support/Process.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace nettest {

bool EventLog::Callback(void* context, int event, void* data)
{
    EventLog& log = *static_cast<EventLog*>(context);
    Event e;
    e.event = event;
    switch (event) {
    case TotalSize:
    case Progress:
        e.number = *static_cast<const int*>(data);
        break;
    case Message:
    case TextContent:
    case FileName:
        e.text = static_cast<const wchar_t*>(data);
        break;
    case TextBody:
        e.body = static_cast<const char*>(data);
        break;
    default:
        break;
    }
    log.events.push_back(e);
    if (event == Progress && log.onProgress)
        log.onProgress(log, e.number);
    if (log.stopped || event != log.stopEvent)
        return true;
    if (event == Progress && e.number < log.stopAtBytes)
        return true;
    log.stopped = true;
    return false;
}

std::string EventLog::Summary() const
{
    static const char* const names[] = {"?", "TotalSize", "?2", "Aborted", "Progress", "Message",
                                        "TextContent", "FileName", "TextBody", "Completed"};
    std::string out;
    for (size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        if (!out.empty())
            out += ' ';
        out += (e.event >= 1 && e.event <= 9) ? names[e.event] : "?";
        if (e.event == Progress) {
            size_t run = 1;
            while (i + 1 < events.size() && events[i + 1].event == Progress) {
                ++run;
                ++i;
            }
            out += "*" + std::to_string(run);
        } else if (e.event == TotalSize) {
            out += ":" + std::to_string(e.number);
        } else if (e.event == FileName || e.event == Message) {
            out += ":" + harness::Narrow(e.text);
        }
    }
    return out;
}

std::vector<int> EventLog::ProgressCounts() const
{
    std::vector<int> counts;
    for (const Event& e : events)
        if (e.event == Progress)
            counts.push_back(e.number);
    return counts;
}

int EventLog::FirstProgress() const
{
    const std::vector<int> counts = ProgressCounts();
    return counts.empty() ? -1 : counts.front();
}

int EventLog::LastProgress() const
{
    const std::vector<int> counts = ProgressCounts();
    return counts.empty() ? -1 : counts.back();
}

int EventLog::LastEvent() const
{
    return events.empty() ? 0 : events.back().event;
}

WideString EventLog::LastMessage() const
{
    for (auto it = events.rbegin(); it != events.rend(); ++it)
        if (it->event == Message)
            return it->text;
    return WideString();
}

bool EventLog::Has(int event) const
{
    for (const Event& e : events)
        if (e.event == event)
            return true;
    return false;
}

std::string MakeBytes(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(state >> 23);
    }
    return bytes;
}

namespace {

struct FindTraits {
    using Handle = HANDLE;
    static Handle None() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsNone(Handle h) noexcept { return h == INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::FindClose(h); }
};
using UniqueFind = UniqueHandle<FindTraits>;

void RemoveTree(const WideString& folder)
{
    WIN32_FIND_DATAW found;
    UniqueFind search(::FindFirstFileW((folder + L"*").c_str(), &found));
    if (search) {
        do {
            const WideString name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const WideString path = folder + name;
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path + L"\\");
            else
                ::DeleteFileW(path.c_str());
        } while (::FindNextFileW(search.get(), &found));
    }
    WideString self = folder;
    if (!self.empty() && self.back() == L'\\')
        self.pop_back();
    ::RemoveDirectoryW(self.c_str());
}

FILETIME UtcFileTime(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    FILETIME ft{};
    ::SystemTimeToFileTime(&st, &ft);
    return ft;
}

} // namespace

WideString FreshFolder(const WideString& name)
{
    const WideString root = harness::Dir() + L"\\net-work\\";
    ::CreateDirectoryW(root.c_str(), nullptr);
    const WideString folder = root + name + L"\\";
    RemoveTree(folder);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

WideString NginxFile(const WideString& name) { return harness::DownloadRoot() + name; }
WideString ScriptedFile(const WideString& name) { return harness::ScriptedRoot() + name; }
WideString NginxUrl(const WideString& name) { return WideString(L"http://") + KOVRA_DOWNLOAD_HOST + L"/" + name; }

long long PutServerFile(const WideString& path, const std::string& bytes, int year, int month, int day, int hour,
                        int minute, int second)
{
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    harness::WriteWholeFile(path, bytes);
    UniqueFileHandle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    const FILETIME time = UtcFileTime(year, month, day, hour, minute, second);
    ::SetFileTime(file.get(), nullptr, &time, &time);
    return StampFor(year, month, day, hour, minute, second);
}

std::string HttpDateText(int year, int month, int day, int hour, int minute, int second)
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    SYSTEMTIME st{};
    const FILETIME ft = UtcFileTime(year, month, day, hour, minute, second);
    ::FileTimeToSystemTime(&ft, &st);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[st.wDayOfWeek], day,
                  months[month - 1], year, hour, minute, second);
    return text;
}

long long StampFor(int year, int month, int day, int hour, int minute, int second)
{
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = 0;
    return _mktime64(&fields);
}

Served Serve(const WideString& serverFile, const WideString& folder, size_t size, unsigned seed, int year,
             int month, int day, int hour, int minute, int second)
{
    const std::string bytes = MakeBytes(size, seed);
    return {FreshFolder(folder), bytes, PutServerFile(serverFile, bytes, year, month, day, hour, minute, second)};
}

std::vector<harness::LogEntry> RequestsFor(const harness::ServerLog& log, const std::string& name)
{
    std::vector<harness::LogEntry> found;
    for (const harness::LogEntry& entry : log.Entries(name))
        if (entry.target.find(name) != std::string::npos || entry.requestLine == name)
            found.push_back(entry);
    return found;
}

std::string Methods(const std::vector<harness::LogEntry>& entries)
{
    std::string out;
    for (const harness::LogEntry& entry : entries)
        out += (out.empty() ? "" : " ") + entry.method;
    return out;
}

std::vector<harness::LogEntry> RequestsMade(const harness::ServerLog& log, const std::string& name,
                                            const std::string& methods)
{
    std::vector<harness::LogEntry> found = RequestsFor(log, name);
    REQUIRE(Methods(found) == methods);
    return found;
}

void CheckFinal(const WideString& final, const std::string& bytes, long long stamp)
{
    CHECK(harness::ReadWholeFile(final) == bytes);
    CHECK(Exists(final));
    CHECK_FALSE(IsHidden(final));
    CHECK(GetFileModificationTime(final.c_str()) == stamp);
    CHECK_FALSE(Exists(final + L".dul!"));
}

void CheckRangedGet(const harness::LogEntry& get, long long from, const std::string& ifRange, int status)
{
    CHECK(get.Header("Range") == "bytes=" + std::to_string(from) + "-");
    CHECK(get.Header("If-Range") == ifRange);
    CHECK(get.status == status);
}

void ListFiles(const WideString& folder, std::vector<WideString>& files)
{
    WIN32_FIND_DATAW found;
    UniqueFind search(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!search)
        return;
    do {
        const WideString name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListFiles(folder + L"\\" + name, files);
        else
            files.push_back(folder + L"\\" + name);
    } while (::FindNextFileW(search.get(), &found));
}

DWORD Attributes(const WideString& path) { return ::GetFileAttributesW(path.c_str()); }
bool Exists(const WideString& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }
bool IsHidden(const WideString& path)
{
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_HIDDEN) != 0;
}

bool IsHiddenAfterStamp(const WideString& path)
{
    static const bool stampsKeepHidden = [] {
        const WideString path = FreshFolder(L"stamp-probe") + L"probe.bin";
        UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_HIDDEN, nullptr));
        file.reset();
        const bool stamped = StampFileTimes(path.c_str(), StampFor(2021, 1, 2, 3, 4, 5));
        const bool hidden = IsHidden(path);
        if (stamped && !hidden)
            std::printf("this platform clears FILE_ATTRIBUTE_HIDDEN when a file's times are set (Windows keeps "
                        "it): the hidden attribute of stamped files is not checked\n");
        return !stamped || hidden;
    }();
    return !stampsKeepHidden || IsHidden(path);
}

long long SizeOf(const WideString& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

} // namespace nettest

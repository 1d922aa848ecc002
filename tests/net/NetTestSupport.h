#pragma once
// What the engine's tests share: an event recorder that can answer false at a
// chosen point, a fresh work folder per case, server files with chosen bytes
// and times, and the requests a server logged for one file.

#include "net/HttpDownloader.h"
#include "tests/support/ServerLog.h"

#include <windows.h>

#include <string>
#include <vector>

namespace nettest {

struct Event {
    int event = 0;
    int number = 0;       // TotalSize, Progress
    std::wstring text;    // Message, TextContent, FileName
    std::string body;     // TextBody, up to its terminating zero
};

// Records every event. Answers false to the first event of kind stopEvent
// (or, for Progress, the first one whose count reaches stopAtBytes).
class EventLog {
public:
    std::vector<Event> events;
    int stopEvent = 0;
    int stopAtBytes = 0;
    bool stopped = false;
    // Called at each Progress before answering (checks on the files mid-way).
    void (*onProgress)(EventLog& log, int count) = nullptr;
    void* user = nullptr;

    static bool Callback(void* context, int event, void* data);

    // "FileName:a.bin TotalSize:100 Progress*3 Completed": kinds in order,
    // runs of Progress folded into one word with their number.
    std::string Summary() const;
    std::vector<int> ProgressCounts() const;
    int FirstProgress() const; // -1 when none came
    int LastProgress() const;
    int LastEvent() const;     // 0 when none came
    std::wstring LastMessage() const;
    bool Has(int event) const;
};

// One download by a fresh engine, every event recorded: its result.
inline int Fetch(const std::wstring& url, const std::wstring& target, EventLog& events)
{
    return HttpDownloader().Download(url.c_str(), target.c_str(), EventLog::Callback, &events);
}

// Deterministic pseudo-random bytes.
std::string MakeBytes(size_t size, unsigned seed);

// A fresh, empty folder for one case, with a trailing backslash.
std::wstring FreshFolder(const std::wstring& name);

// Server files: nginx's download root and the scripted server's root.
std::wstring NginxFile(const std::wstring& name);
std::wstring ScriptedFile(const std::wstring& name);
std::wstring NginxUrl(const std::wstring& name);
std::wstring ScriptedUrl(const std::wstring& pathAndQuery);

// Writes a server file and sets its modification time (UTC).
void PutServerFile(const std::wstring& path, const std::string& bytes, int year, int month, int day, int hour,
                   int minute, int second);
// The HTTP date a server sends for that time.
std::string HttpDateText(int year, int month, int day, int hour, int minute, int second);
// The time value the engine stamps for that Last-Modified: the date's fields
// taken as local time, daylight saving off.
long long StampFor(int year, int month, int day, int hour, int minute, int second);

// Requests for a file (target containing name) logged since the mark; waits
// for at least `expected`, then a little longer for late extras.
std::vector<harness::LogEntry> RequestsFor(const harness::ServerLog& log, const std::string& name, size_t expected);
std::string Methods(const std::vector<harness::LogEntry>& entries); // "HEAD GET"

// Every file under a folder (no trailing backslash), recursively.
void ListFiles(const std::wstring& folder, std::vector<std::wstring>& files);

DWORD Attributes(const std::wstring& path);
bool Exists(const std::wstring& path);
bool IsHidden(const std::wstring& path);
long long SizeOf(const std::wstring& path);

} // namespace nettest

#pragma once
// What the engine's tests share: an event recorder that can answer false at a
// chosen point, a fresh work folder per case, server files with chosen bytes
// and times, and the requests a server logged for one file.

#include "net/HttpDownloader.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/ServerLog.h"

#include <windows.h>

#include <string>
#include <vector>

namespace nettest {

struct Event {
    int event = 0;
    int number = 0;       // TotalSize, Progress
    WideString text;    // Message, TextContent, FileName
    std::string body;     // TextBody, up to its terminating zero
};

// Records every event. Answers false to the first event of kind stopEvent
// (or, for Progress, the first one whose count reaches stopAtBytes).
class EventLog {
public:
    EventLog() = default;
    explicit EventLog(int event, int bytes = 0) : stopEvent(event), stopAtBytes(bytes) {}
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
    WideString LastMessage() const;
    bool Has(int event) const;
};

// A fixture for the cases that script the scripted server: every script is
// dropped when the case, or each pass through its subcases, ends.
struct ScriptsReset {
    ~ScriptsReset() { harness::ResetScripts(); }
};

// One download by a fresh engine, every event recorded: its result.
inline int Fetch(const WideString& url, const WideString& target, EventLog& events)
{
    return HttpDownloader().Download(url.c_str(), target.c_str(), EventLog::Callback, &events);
}

// Deterministic pseudo-random bytes.
std::string MakeBytes(size_t size, unsigned seed);

// A fresh, empty folder for one case, with a trailing backslash.
WideString FreshFolder(const WideString& name);

// Server files: nginx's download root and the scripted server's root.
WideString NginxFile(const WideString& name);
WideString ScriptedFile(const WideString& name);
WideString NginxUrl(const WideString& name);
using harness::ScriptedUrl; // a path and query on the scripted server, reached directly

// Writes a server file and sets its modification time (UTC), returning its StampFor.
long long PutServerFile(const WideString& path, const std::string& bytes, int year, int month, int day, int hour,
                        int minute, int second);
// The HTTP date a server sends for that time.
std::string HttpDateText(int year, int month, int day, int hour, int minute, int second);
// The time value the engine stamps for that Last-Modified: the date's fields
// taken as local time, daylight saving off.
long long StampFor(int year, int month, int day, int hour, int minute, int second);

// A case's fresh folder, and a server file of MakeBytes(size, seed) from that
// date; the folder, the bytes and their stamp.
struct Served {
    WideString folder;
    std::string bytes;
    long long stamp;
};
Served Serve(const WideString& serverFile, const WideString& folder, size_t size, unsigned seed, int year,
             int month, int day, int hour = 0, int minute = 0, int second = 0);

// Requests for a file (target containing name) logged since the mark, every
// one answered so far among them.
std::vector<harness::LogEntry> RequestsFor(const harness::ServerLog& log, const std::string& name);
std::string Methods(const std::vector<harness::LogEntry>& entries); // "HEAD GET"
// The same requests, required to have been made with these methods.
std::vector<harness::LogEntry> RequestsMade(const harness::ServerLog& log, const std::string& name,
                                            const std::string& methods);

// A download's final file: these bytes, visible, stamped, the temporary gone.
void CheckFinal(const WideString& final, const std::string& bytes, long long stamp);

// A GET for the rest of a file from byte `from`, If-Range naming the version
// on disk (its HTTP date), and the status the server answered it with.
void CheckRangedGet(const harness::LogEntry& get, long long from, const std::string& ifRange, int status);

// Every file under a folder (no trailing backslash), recursively.
void ListFiles(const WideString& folder, std::vector<WideString>& files);

DWORD Attributes(const WideString& path);
bool Exists(const WideString& path);
bool IsHidden(const WideString& path);
long long SizeOf(const WideString& path);

// Whether a file the download has stamped is hidden. Windows keeps a file's
// attributes when its times are set; Wine 10 clears FILE_ATTRIBUTE_HIDDEN
// then (measured with SetFileTime, _futime64 and _wutime64; Wine 8 keeps
// it). Where setting the times clears it, a stamped file cannot be seen
// hidden: this answers true, and says so once on standard output.
bool IsHiddenAfterStamp(const WideString& path);

} // namespace nettest

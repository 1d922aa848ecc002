#pragma once
// Reads the request logs of the harness servers, nginx's access log and the
// scripted server's, as the scripted server parses them for the Python tests
// too (tests/harness/kovra_harness.py, through its control path).

#include "common/WideString.h"
#include <utility>
#include <vector>

namespace harness {

struct LogEntry {
    std::string server;      // "nginx" or "scripted"
    std::string requestLine; // as received, e.g. "HEAD http://host:80/f HTTP/1.1"
    std::string method;
    std::string target;      // second word of the request line
    int status = 0;
    long long bodyBytesSent = 0;
    std::vector<std::pair<std::string, std::string>> headers; // in order; nginx: a fixed set, "-" dropped

    // Value of the first header of that name (case-insensitive); empty if none.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

class ServerLog {
public:
    // Which log: "nginx" (nginx/access.log) or "scripted" (scripted.log).
    explicit ServerLog(const std::string& which);

    // Forget what is in the log so far; Entries() returns what comes after.
    void Mark();

    // Entries written since the mark, once every answer the server has given
    // so far (to a request line containing match) is among them. Empty when
    // the log could not be read.
    std::vector<LogEntry> Entries(const std::string& match = std::string()) const;

private:
    std::string which_;
    WideString path_;
    long long mark_ = 0;
};

} // namespace harness

#pragma once
// One statistics request: built by an event, sent once when it goes out of
// scope. Fire-and-forget: never retried, nothing reported.

#include <string>

class StatsRequest {
public:
    StatsRequest();
    ~StatsRequest();
    StatsRequest(const StatsRequest&) = delete;
    StatsRequest& operator=(const StatsRequest&) = delete;

    void AddParam(const std::wstring& key, const std::wstring& value);

    // Delivers the request unless it was delivered already. Any HTTP answer
    // counts as delivered; its body is never read.
    void Send();

    bool Sent() const { return sent_; }

private:
    std::wstring url_;
    bool sent_ = false;
};

#pragma once
// One statistics event: built by an event operation, handed to the sender
// (StatsSender.h) when it goes out of scope. Fire-and-forget: nothing is
// reported back.

#include "common/WideString.h"

class StatsRequest {
public:
    // The endpoint and the client identifier (read or created on first use).
    StatsRequest();
    // Queues the request; its caller never waits for it.
    ~StatsRequest();
    StatsRequest(const StatsRequest&) = delete;
    StatsRequest& operator=(const StatsRequest&) = delete;

    void AddParam(const WideString& key, const WideString& value);

private:
    WideString url_;
};

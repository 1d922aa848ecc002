#pragma once
// The one sender of the statistics events: a thread of its own sends them
// one after another, in the order they were queued, so that the statistics
// host sees every event once and in order (run, downloaded, finished) and
// nobody who queues one waits for its answer.
//
// An event that a proxy answers with 407 waits until the user has given the
// download's proxy prompt credentials that the proxy took, and then goes
// again once with them: the statistics never prompt.

#include <windows.h>

#include "common/WideString.h"

// How long one event may take: connecting, and then waiting for the answer.
const DWORD kStatsTimeoutMs = 5000;

// Queues one request URL; the first call starts the sender.
void QueueStatsEvent(WideString url);

// Waits until every queued event has been sent or given up, at most
// timeoutMs in all; what is left then is lost with the process.
void FinishStatsEvents(DWORD timeoutMs = kStatsTimeoutMs);

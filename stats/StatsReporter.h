#pragma once
// The four usage events of a loader run. Each builds one request and queues
// it for the sender (StatsSender.h) when the operation returns; nothing is
// reported back, and nobody waits for an answer.

void ReportRun();
void ReportDownloaded();
void ReportFinished(int exitCode);

// Sent at most once per process, whatever the outcome of the first send.
void ReportRenameFailed();

#pragma once
// The four usage events of a loader run. Each builds one request that is sent
// when the operation returns; nothing is reported back.

void ReportRun();
void ReportDownloaded();
void ReportFinished(int exitCode);

// Sent at most once per process, whatever the outcome of the first send.
void ReportRenameFailed();

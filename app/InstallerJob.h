#pragma once
// The loader's job, without a window: the download with its pauses, the
// installing phase with the signature check and the launch, the second pass
// when the installer vanished before its launch, and the statistics events
// of every step.

#include "app/LoaderJob.h"
#include "app/PublisherKeyPin.h"
#include "common/WideString.h"
#include "net/HttpDownloader.h"

class InstallerJob : public LoaderJob {
public:
    // Fixes the target path and opens the internet session. With a pin, only
    // an installer signed by that publisher is run.
    explicit InstallerJob(const PublisherKeyPin& pin);

    int Run(JobDisplay& display) override;

    // Sets by which a missing installer is downloaded again before the loader
    // gives up on it (a file removed as soon as it appears would otherwise
    // nest downloads without end).
    static const int kMaxInstallerReruns = 3;

private:
    // Download attempts with their pauses, then the installing phase; it
    // returns early when the job must stop at once (a text page was
    // answered, textPageAnswered) or the attempts ran out.
    void DownloadWorker();
    static bool OnDownloadEvent(void* context, int event, void* data);
    // The installer's exit code, or the code of why it did not run.
    int RunInstaller();
    int SecondPass();

    const PublisherKeyPin publisherPin;
    const WideString installerUrl;
    const WideString targetPath;
    HttpDownloader downloader;
    JobDisplay* display = nullptr;
    uint32_t totalBytes = 0;
    bool textPageAnswered = false;
    int installerReruns = 0;
};

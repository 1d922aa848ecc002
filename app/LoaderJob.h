#pragma once
// The loader's job as its window sees it. The dialog owns the job and runs it
// on its worker thread; the job knows nothing of windows and tells the dialog
// what to show through JobDisplay, which the dialog implements.

#include <windows.h>
#include <wininet.h>

#include <cstdint>

// What the job has the window show, called on the job's thread. Each call
// returns once the window has been told; its own thread does the rest.
class JobDisplay {
public:
    // doneBytes of totalBytes are on disk (kUnknownTotal: none announced).
    virtual void UpdateProgress(uint32_t doneBytes, uint32_t totalBytes) = 0;
    // The download of totalBytes is whole: the full bar, and once it has been
    // seen, the installing look.
    virtual void ShowInstallingLook(uint32_t totalBytes) = 0;
    // The proxy refused request: the user types its credentials into it;
    // true when the request is to go again with them.
    virtual bool AskForProxyCredentials(HINTERNET request) = 0;

protected:
    ~JobDisplay() = default;
};

class LoaderJob {
public:
    // Ending values of a job (the process exit code).
    static const int kJobEnded = 1;
    static const int kTextPageOpened = 0;

    virtual ~LoaderJob() = default;
    // The whole job, on the dialog's worker thread; returns its ending value.
    virtual int Run(JobDisplay& display) = 0;
};

#pragma once
// What HttpDownloader::Download tells its caller, and what it returns.

#include "common/UniqueInternetHandle.h"

// Event data: TotalSize and Progress point to a signed 32-bit int (a total
// of -1 means "not announced by the server"); Message, TextContent and
// FileName point to a zero-terminated wide text; TextBody points to the whole
// file followed by one zero byte; ProxyAuthRequired points to a
// ProxyChallenge. Data is valid only during the callback.
enum DownloadEvent : int {
    TotalSize = 1,
    Aborted = 3,
    Progress = 4,
    Message = 5,
    TextContent = 6,
    FileName = 7,
    TextBody = 8,
    Completed = 9,
    ProxyAuthRequired = 10,
};

// The proxy answered a request with 407. The caller may have the user type
// the proxy's credentials into the request (InternetErrorDlg) and set
// sendAgain: the request then goes again, with them. Left false, the 407
// stands as the answer.
struct ProxyChallenge {
    HINTERNET request;
    bool sendAgain;
};

enum DownloadResult : int {
    Ok = 0,
    UnsupportedScheme = 1,
    HeadNotSent = 17,
    Failed = -1,
    UnexpectedStatus = -2,
};

// Answering false stops the download where the event allows it.
using DownloadProgressCallback = bool (*)(void* context, int event, void* data);

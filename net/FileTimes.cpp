#include "net/FileTimes.h"

#include "net/HttpDate.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <sys/utime.h>

long long GetFileModificationTime(const wchar_t* path)
{
    struct _stat64 status;
    if (_wstat64(path, &status) != 0)
        return kNoFileTime;
    return status.st_mtime;
}

long long GetFileSize64(const wchar_t* path)
{
    struct _stat64 status;
    if (_wstat64(path, &status) != 0)
        return -1;
    return status.st_size;
}

bool StampFileTimes(const wchar_t* path, long long time)
{
    if (time == kInvalidTime)
        return false;
    struct __utimbuf64 times;
    times.actime = time;
    times.modtime = time;
    return _wutime64(path, &times) == 0;
}

bool StampOpenFileTimes(int descriptor, long long time)
{
    if (time == kInvalidTime)
        return false;
    struct __utimbuf64 times;
    times.actime = time;
    times.modtime = time;
    return _futime64(descriptor, &times) == 0;
}

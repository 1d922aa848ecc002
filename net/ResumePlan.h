#pragma once
// The download's decisions about what is already on disk and what an answer
// to the ranged GET means, kept free of I/O so they can be tested alone.
//
// The temporary file carries, as its modification time, the server's
// Last-Modified time of the bytes it holds: it is stamped after every chunk,
// so the time survives a killed process. A partial file is continued only
// when that time equals the server's current one; the GET then carries
// If-Range with the server's date, so a file changed in between comes back
// whole (200) and writing starts again at 0. Without a Last-Modified time
// there is nothing to check a partial file against: it starts over. Without
// a total the time alone vouches for it, and only a body that ends cleanly
// (or the server's own count of bytes) says when the file is whole.
//
// A server that gives no Last-Modified may name its version by a strong
// ETag. The disk cannot keep a tag, so the downloader remembers it for the
// calls of one run, with the time the file had when it was left: that time
// then stands for the version's, and the GET's If-Range carries the tag.

#include "net/HeaderLines.h"

// The server announced no usable size (no Content-Length, or not above 0).
const int kUnknownTotal = -1;

// A final file produced by an earlier call for the same server file.
bool IsFinalFileCurrent(long long finalTime, long long finalSize, long long serverTime, int total);

enum class TempStart {
    Create,   // no usable temporary file: create it empty
    Resume,   // continue it from its size
    Complete, // it already holds the whole file
};

struct TempPlan {
    TempStart start = TempStart::Create;
    int offset = 0;
};

// tempTime is kNoFileTime when there is no temporary file.
TempPlan PlanTempFile(long long tempTime, long long tempSize, long long serverTime, int total);

// What the download expects of the file before the GET: what the HEAD said,
// or, when the HEAD was refused, what the bytes on disk are of.
struct HeadFacts {
    long long time = -1;     // Last-Modified, or kInvalidTime
    int total = kUnknownTotal;
    WideString tag;        // the strong ETag when it alone names the version
    // false: the version is the one of the file on disk, which only an
    // answer that names it can confirm.
    bool fromServer = true;
};

// The parts of a 2xx answer to the ranged GET that matter.
struct GetFacts {
    int status = 200;
    long long time = -1;     // its own Last-Modified, or kInvalidTime
    int contentLength = 0;   // 0 when none
    ContentRange range;      // from "Content-Range: bytes "
    int unsatisfiedTotal = -1; // of a 416: the size in "bytes */<size>", or -1
    WideString tag;          // its strong ETag, or empty
};

enum class TransferStart {
    Write,        // write the body from `first`
    Complete,     // a 416 that names the size already on disk: nothing to write
    BadRange,     // a 206 past the offset or past the file's end, without
                  // Content-Range past 0, or whose range contradicts itself
                  // or the body's length; a 416 of the HEAD's version
                  // naming another size
    VersionMoved, // a 206 or 416 of another version (time, tag or size
                  // differ), or one that cannot confirm the version of the
                  // file on disk (the HEAD refused): start over
};

struct TransferPlan {
    TransferStart start = TransferStart::Write;
    int first = 0;             // file position of the body's first byte
    int total = kUnknownTotal; // size the finished file must have
    long long time = -1;       // Last-Modified of the bytes being written
};

// offset: what the GET asked for ("Range: bytes=<offset>-"). The answer is a
// 2xx, or a 416 (only Complete or BadRange come of that).
TransferPlan PlanTransfer(const HeadFacts& head, int offset, const GetFacts& get);

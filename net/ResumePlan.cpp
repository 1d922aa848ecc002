#include "net/ResumePlan.h"

#include "net/HttpDate.h"

#include <climits>

bool IsFinalFileCurrent(long long finalTime, long long finalSize, long long serverTime, int total)
{
    return finalTime != kNoFileTime && serverTime != kInvalidTime && finalTime == serverTime && total > 0 &&
           finalSize == total;
}

TempPlan PlanTempFile(long long tempTime, long long tempSize, long long serverTime, int total)
{
    TempPlan plan;
    if (tempTime == kNoFileTime || tempSize < 0 || serverTime == kInvalidTime || tempTime != serverTime ||
        total == 0)
        return plan;
    if (total == kUnknownTotal) {
        // The time alone vouches for the bytes; whether they are all there
        // only the server can say, so the GET goes in any case.
        if (tempSize > 0 && tempSize < INT_MAX) {
            plan.offset = static_cast<int>(tempSize);
            plan.start = TempStart::Resume;
        }
        return plan;
    }
    // A longer file than the server's cannot hold this version's bytes.
    if (total < 0 || tempSize > total)
        return plan;
    plan.offset = static_cast<int>(tempSize);
    plan.start = tempSize == total ? TempStart::Complete : TempStart::Resume;
    return plan;
}

namespace {

// A range that ends before it starts, runs past its file or disagrees with
// the body's length cannot say where the body's bytes belong.
bool IsConsistent(const ContentRange& range, int contentLength)
{
    if (range.last < 0)
        return true;
    if (range.last < range.first || (range.total > 0 && range.last >= range.total))
        return false;
    const long long length = static_cast<long long>(range.last) - range.first + 1;
    return contentLength <= 0 || length == contentLength;
}

// Whether an answer is of the version expected. The tag decides where it
// alone names the version, the times where both sides give one; an answer
// that names no version is taken at the HEAD's word, never at a file's.
bool SameVersion(const HeadFacts& head, const GetFacts& get)
{
    if (!head.tag.empty() && !get.tag.empty())
        return get.tag == head.tag;
    if (head.tag.empty() && head.time != kInvalidTime && get.time != kInvalidTime)
        return get.time == head.time;
    return head.fromServer || (head.time == kInvalidTime && head.tag.empty());
}

} // namespace

TransferPlan PlanTransfer(const HeadFacts& head, int offset, const GetFacts& get)
{
    TransferPlan plan;
    const bool sameVersion = SameVersion(head, get);
    // The stamp of what is written: an answer of another version that names
    // none leaves the bytes unstamped, never stamped as the old version.
    plan.time = get.time != kInvalidTime ? get.time : sameVersion ? head.time : kInvalidTime;
    if (get.status == 416) {
        // Asked for what lies past the end, and the end is exactly where the
        // file stops: an earlier run received every byte (no total told it).
        // A file's version that the answer cannot place is not continued.
        const bool whole = offset > 0 && get.unsatisfiedTotal == offset && sameVersion &&
                           (head.total == kUnknownTotal || head.total == offset);
        plan.start = whole                             ? TransferStart::Complete
                     : sameVersion && head.fromServer ? TransferStart::BadRange
                                                       : TransferStart::VersionMoved;
        plan.first = whole ? offset : 0;
        plan.total = whole ? offset : kUnknownTotal;
        return plan;
    }

    int announced = kUnknownTotal;
    if (get.status == 206) {
        // A 206 to "bytes=0-" can only start at 0, also when its headers did
        // not fit the buffer; anywhere else it must say where it starts.
        ContentRange range = get.range;
        if (!range.valid && offset == 0)
            range.valid = true;
        if (!range.valid || range.first > offset || (range.total > 0 && range.first > range.total) ||
            !IsConsistent(range, get.contentLength)) {
            plan.start = TransferStart::BadRange;
            return plan;
        }
        // A server that ignores If-Range sends the rest of whatever it has
        // now; when the answer has no Last-Modified, only the size tells.
        const bool sameSize = range.total <= 0 || head.total == kUnknownTotal || range.total == head.total;
        if ((!sameVersion || !sameSize) && range.first > 0) {
            plan.start = TransferStart::VersionMoved;
            return plan;
        }
        plan.first = range.first;
        if (range.total > 0)
            announced = range.total;
    } else if (get.contentLength > 0) {
        announced = get.contentLength;
    }
    if (announced == kUnknownTotal && sameVersion)
        announced = head.total;
    // "bytes 100-999/*" and no size anywhere else: the body asked for runs to
    // the end of the file, so this is where the file ends.
    if (announced == kUnknownTotal && get.status == 206 && get.range.last >= 0 && get.range.last < INT_MAX)
        announced = get.range.last + 1;
    // A body that starts, or by its range ends, past the end of its file
    // cannot complete it (the range may name no size: "*" or 0).
    const bool endsPast = get.status == 206 && get.range.last >= announced;
    if (announced != kUnknownTotal && (plan.first > announced || endsPast)) {
        plan.start = TransferStart::BadRange;
        plan.first = 0;
        return plan;
    }
    plan.total = announced;
    return plan;
}

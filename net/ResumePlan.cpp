#include "net/ResumePlan.h"

#include "net/HttpDate.h"

bool IsFinalFileCurrent(long long finalTime, long long finalSize, long long serverTime, int total)
{
    return finalTime != kNoFileTime && serverTime != kInvalidTime && finalTime == serverTime && total > 0 &&
           finalSize == total;
}

TempPlan PlanTempFile(long long tempTime, long long tempSize, long long serverTime, int total)
{
    TempPlan plan;
    // A longer file than the server's cannot hold this version's bytes.
    if (tempTime == kNoFileTime || tempSize < 0 || serverTime == kInvalidTime || total <= 0 ||
        tempTime != serverTime || tempSize > total)
        return plan;
    plan.offset = static_cast<int>(tempSize);
    plan.start = tempSize == total ? TempStart::Complete : TempStart::Resume;
    return plan;
}

TransferPlan PlanTransfer(const HeadFacts& head, int offset, const GetFacts& get)
{
    TransferPlan plan;
    const bool sameVersion = get.time == kInvalidTime || head.time == kInvalidTime || get.time == head.time;
    plan.time = get.time != kInvalidTime ? get.time : head.time;

    int announced = kUnknownTotal;
    if (get.status == 206) {
        // A 206 to "bytes=0-" can only start at 0, also when its headers did
        // not fit the buffer; anywhere else it must say where it starts.
        ContentRange range = get.range;
        if (!range.valid && offset == 0)
            range.valid = true;
        if (!range.valid || range.first > offset) {
            plan.start = TransferStart::BadRange;
            return plan;
        }
        if (!sameVersion && range.first > 0) {
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
    plan.total = announced;
    return plan;
}

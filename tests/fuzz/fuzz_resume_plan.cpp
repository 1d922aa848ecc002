// The download's decisions from what is on disk and what the server said:
// IsFinalFileCurrent, PlanTempFile and PlanTransfer, with the GET answer's
// Content-Range read by ParseContentRange from the end of the input.
//
// The numbers are drawn mostly from a few values that meet (equal times,
// sizes around the total, the special times) so that the interesting
// branches are reached, and sometimes from anywhere. Properties:
// - a final file counts as present only with the server's valid time and its
//   size equal to a known total;
// - a temporary file is continued only when it holds bytes of this version
//   (same valid time) and no more than the total, or some bytes when there
//   is no total;
// - a transfer never leaves a gap (it starts at or before the offset asked
//   for), never keeps bytes of another version (another time, or a 206 that
//   names another size) before its start, and never starts or, as far as
//   its range says, ends past the end of the file it is to complete; a 416
//   completes only a file of the size it names, of this version.

#include "net/HeaderLines.h"
#include "net/HttpDate.h"
#include "net/ResumePlan.h"
#include "tests/fuzz/FuzzInput.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <string>
#include <vector>

namespace {

const long long kSomeTime = 1445412480; // 2015-10-21 07:28:00 UTC

long long PickTime(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0: return kNoFileTime;
    case 1: return kInvalidTime;
    case 2: return kSomeTime;
    case 3: return kSomeTime + 1;
    case 4: return kSomeTime - 3600;
    default: return in.ConsumeIntegral<long long>();
    }
}

// Sizes near `near`, or anywhere.
long long PickSize(FuzzedDataProvider& in, long long near)
{
    switch (in.ConsumeIntegralInRange(0, 6)) {
    case 0: return near;
    case 1: return near - 1;
    case 2: return near + 1;
    case 3: return 0;
    case 4: return -1;
    case 5: return in.ConsumeIntegralInRange<long long>(0, near > 0 ? near : 1);
    default: return in.ConsumeIntegral<int>();
    }
}

int PickInt(FuzzedDataProvider& in, long long near)
{
    const long long value = PickSize(in, near);
    return value < INT_MIN || value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::ForgetShown();
    FuzzedDataProvider in(data, size);
    const int total = PickInt(in, in.ConsumeIntegralInRange(1, 100000));
    const long long serverTime = PickTime(in);

    // The final file.
    const long long finalTime = PickTime(in);
    const long long finalSize = PickSize(in, total);
    if (IsFinalFileCurrent(finalTime, finalSize, serverTime, total)) {
        FUZZ_REQUIRE(serverTime != kInvalidTime && serverTime != kNoFileTime && finalTime == serverTime);
        FUZZ_REQUIRE(total > 0 && finalSize == total);
    }

    // The temporary file.
    const long long tempTime = PickTime(in);
    const long long tempSize = PickSize(in, total);
    const TempPlan temp = PlanTempFile(tempTime, tempSize, serverTime, total);
    switch (temp.start) {
    case TempStart::Create:
        FUZZ_REQUIRE(temp.offset == 0);
        break;
    case TempStart::Resume:
    case TempStart::Complete:
        FUZZ_REQUIRE(tempTime != kNoFileTime && serverTime != kInvalidTime && tempTime == serverTime);
        FUZZ_REQUIRE(temp.offset == tempSize && tempSize >= 0);
        if (total == kUnknownTotal) {
            FUZZ_REQUIRE(temp.start == TempStart::Resume && tempSize > 0);
            break;
        }
        FUZZ_REQUIRE(total > 0 && tempSize <= total);
        FUZZ_REQUIRE((temp.start == TempStart::Complete) == (tempSize == total));
        break;
    }

    // The GET answer for the offset the plan chose (or any other).
    HeadFacts head;
    head.time = serverTime == kNoFileTime ? kInvalidTime : serverTime;
    head.total = total > 0 ? total : kUnknownTotal;
    const int offset = in.ConsumeBool() ? temp.offset : PickInt(in, total) & INT_MAX;
    GetFacts get;
    get.status = in.ConsumeBool() ? 206 : (in.ConsumeBool() ? 200 : in.ConsumeIntegralInRange(200, 299));
    if (in.ConsumeIntegralInRange(0, 7) == 0)
        get.status = 416;
    get.time = in.ConsumeBool() ? head.time : PickTime(in);
    if (get.time == kNoFileTime)
        get.time = kInvalidTime;
    get.contentLength = PickInt(in, total);
    const std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();
    const std::wstring range = fuzz::UpToNul(fuzz::CodeUnits(rest.data(), rest.size()));
    get.range = ParseContentRange(range.c_str());
    get.unsatisfiedTotal = ParseUnsatisfiedRange(range.c_str());
    fuzz::Show("Content-Range", range);

    const TransferPlan plan = PlanTransfer(head, offset, get);
    // Another version: another valid time, or a 206 naming another size.
    const bool otherTime = get.time != kInvalidTime && head.time != kInvalidTime && get.time != head.time;
    const bool otherSize = get.status == 206 && get.range.total > 0 && head.total != kUnknownTotal &&
                           get.range.total != head.total;
    switch (plan.start) {
    case TransferStart::Write:
        FUZZ_REQUIRE(get.status != 416);
        FUZZ_REQUIRE(plan.first >= 0 && plan.first <= offset);
        if (plan.first > 0)
            FUZZ_REQUIRE(get.status == 206 && !otherTime && !otherSize);
        FUZZ_REQUIRE(plan.total == kUnknownTotal || plan.total > 0);
        FUZZ_REQUIRE(plan.total == kUnknownTotal || plan.first <= plan.total);
        // A body whose range ends past the file cannot be its end.
        if (get.status == 206 && get.range.last >= 0)
            FUZZ_REQUIRE(get.range.last >= plan.first && (plan.total == kUnknownTotal || get.range.last < plan.total));
        FUZZ_REQUIRE(plan.time == (get.time != kInvalidTime ? get.time : head.time));
        break;
    case TransferStart::Complete:
        FUZZ_REQUIRE(get.status == 416 && offset > 0 && !otherTime);
        FUZZ_REQUIRE(get.unsatisfiedTotal == offset && plan.first == offset && plan.total == offset);
        FUZZ_REQUIRE(head.total == kUnknownTotal || head.total == offset);
        break;
    case TransferStart::BadRange:
        FUZZ_REQUIRE(get.status == 206 || get.status == 416);
        break;
    case TransferStart::VersionMoved:
        FUZZ_REQUIRE(get.status == 206 && get.range.first > 0 && (otherTime || otherSize));
        break;
    }
    return 0;
}

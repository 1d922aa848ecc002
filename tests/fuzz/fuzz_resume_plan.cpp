// The download's decisions from what is on disk and what the server said:
// IsFinalFileCurrent, PlanTempFile and PlanTransfer, with the GET answer's
// Content-Range read by ParseContentRange from the end of the input.
//
// The numbers are drawn mostly from a few values that meet (equal times,
// sizes around the total, the special times) so that the interesting
// branches are reached, and sometimes from anywhere; the GET's range is
// sometimes the one a server of this version sends for the offset. Properties:
// - a final file counts as present only with the server's valid time and its
//   size equal to a known total;
// - a temporary file is continued exactly when it holds bytes of this version
//   (same valid time) and no more than the total, or some bytes when there
//   is no total, and counts as complete exactly when it holds the total;
// - a transfer never leaves a gap (it starts at or before the offset asked
//   for), never keeps bytes of another version (another tag, another time,
//   a 206 that names another size, or, for the version of the file on disk,
//   an answer that does not name it) before its start, never stamps them
//   with a version they may not be of, and never starts or, as far as its
//   range says, ends past the end of the file it is to complete; a 416
//   completes only a file of the size it names, of this version;
// - the rest of this version from the offset asked for is written from there,
//   and a 416 naming exactly what is on disk of this version completes it.

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
    const bool thisVersion = tempTime != kNoFileTime && serverTime != kInvalidTime && tempTime == serverTime;
    // Sizes and offsets are 32-bit.
    const bool fits = total == kUnknownTotal ? tempSize > 0 && tempSize < INT_MAX
                                             : total > 0 && tempSize >= 0 && tempSize <= total;
    FUZZ_REQUIRE((temp.start != TempStart::Create) == (thisVersion && fits));
    FUZZ_REQUIRE((temp.start == TempStart::Complete) == (thisVersion && total > 0 && tempSize == total));
    FUZZ_REQUIRE(temp.offset == (temp.start == TempStart::Create ? 0 : tempSize));

    // The GET answer for the offset the plan chose (or any other).
    HeadFacts head;
    head.time = serverTime == kNoFileTime ? kInvalidTime : serverTime;
    head.total = total > 0 ? total : kUnknownTotal;
    // A version named only by a tag; the version of the bytes on disk (the
    // HEAD refused), which the answer has to name.
    static const wchar_t* const tags[] = {L"", L"\"a\"", L"\"b\""};
    head.tag = tags[in.ConsumeIntegralInRange(0, 1)];
    head.fromServer = in.ConsumeBool();
    const int offset = in.ConsumeBool() ? temp.offset : PickInt(in, total) & INT_MAX;
    GetFacts get;
    get.status = in.ConsumeBool() ? 206 : (in.ConsumeBool() ? 200 : in.ConsumeIntegralInRange(200, 299));
    if (in.ConsumeIntegralInRange(0, 7) == 0)
        get.status = 416;
    get.time = in.ConsumeBool() ? head.time : PickTime(in);
    if (get.time == kNoFileTime)
        get.time = kInvalidTime;
    get.contentLength = PickInt(in, total);
    get.tag = tags[in.ConsumeIntegralInRange(0, 2)];
    const bool rightRange = in.ConsumeBool();
    const std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();
    const WideString range = fuzz::UpToNul(fuzz::CodeUnits(rest.data(), rest.size()));
    get.range = ParseContentRange(range.c_str());
    get.unsatisfiedTotal = ParseUnsatisfiedRange(range.c_str());
    fuzz::Show("Content-Range", range);
    if (rightRange) {
        // What a server of this version answers for the offset.
        get.range = ContentRange{true, offset, head.total - 1, head.total};
        get.unsatisfiedTotal = offset;
    }

    const TransferPlan plan = PlanTransfer(head, offset, get);
    // Another version: another tag, another valid time where no tag names
    // the version, or a 206 naming another size. Where the version is the
    // file's, the answer must name it (its tag, or else its time).
    const bool otherTag = !head.tag.empty() && !get.tag.empty() && get.tag != head.tag;
    const bool otherTime = head.tag.empty() && get.time != kInvalidTime && head.time != kInvalidTime &&
                           get.time != head.time;
    const bool otherSize = get.status == 206 && get.range.total > 0 && head.total != kUnknownTotal &&
                           get.range.total != head.total;
    const bool named = !head.tag.empty() ? get.tag == head.tag
                                         : head.time == kInvalidTime || get.time == head.time;
    const bool vouched = !otherTag && !otherTime && (head.fromServer || named);
    const int restLength = head.total - offset;
    if (rightRange && get.status == 206 && vouched && offset > 0 && restLength > 0 &&
        (get.contentLength <= 0 || get.contentLength == restLength))
        FUZZ_REQUIRE(plan.start == TransferStart::Write && plan.first == offset && plan.total == head.total);
    if (rightRange && get.status == 416 && vouched && offset > 0 &&
        (head.total == kUnknownTotal || head.total == offset))
        FUZZ_REQUIRE(plan.start == TransferStart::Complete && plan.total == offset);
    switch (plan.start) {
    case TransferStart::Write:
        FUZZ_REQUIRE(get.status != 416);
        FUZZ_REQUIRE(plan.first >= 0 && plan.first <= offset);
        if (plan.first > 0)
            FUZZ_REQUIRE(get.status == 206 && vouched && !otherSize);
        FUZZ_REQUIRE(plan.total == kUnknownTotal || plan.total > 0);
        FUZZ_REQUIRE(plan.total == kUnknownTotal || plan.first <= plan.total);
        // A body whose range ends past the file cannot be its end.
        if (get.status == 206 && get.range.last >= 0)
            FUZZ_REQUIRE(get.range.last >= plan.first && (plan.total == kUnknownTotal || get.range.last < plan.total));
        // Stamped with the answer's time, or else the expected version's
        // only when the answer may be of it.
        if (get.time != kInvalidTime)
            FUZZ_REQUIRE(plan.time == get.time);
        else
            FUZZ_REQUIRE(plan.time == kInvalidTime || (plan.time == head.time && vouched));
        break;
    case TransferStart::Complete:
        FUZZ_REQUIRE(get.status == 416 && offset > 0 && vouched);
        FUZZ_REQUIRE(get.unsatisfiedTotal == offset && plan.first == offset && plan.total == offset);
        FUZZ_REQUIRE(head.total == kUnknownTotal || head.total == offset);
        break;
    case TransferStart::BadRange:
        FUZZ_REQUIRE(get.status == 206 || get.status == 416);
        break;
    case TransferStart::VersionMoved:
        if (get.status == 416)
            FUZZ_REQUIRE(!vouched || !head.fromServer);
        else
            FUZZ_REQUIRE(get.status == 206 && get.range.first > 0 && (!vouched || otherSize));
        break;
    }
    return 0;
}

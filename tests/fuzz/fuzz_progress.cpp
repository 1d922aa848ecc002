// ProgressPercent and the window text on any counts: the done and total
// counts come straight from the server's sizes, so any pair can occur (a GET
// that sends more than the HEAD announced gives done above total).
//
// Beyond not crashing (a double converted to int out of its range is
// undefined): a total of 0 shows 0; an unknown total steps the bar on by 5
// and wraps after 100; otherwise the percentage is the truncated share (within one
// of the exact integer share, which the double division may round below), at
// most 100 (100 for anything past the total), 100 exactly at the total, never
// falling as done grows, and the window text shows it whole.

#include "app/ProgressText.h"
#include "tests/fuzz/FuzzInput.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

namespace {

uint32_t PickCount(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return 0;
    case 1: return kUnknownTotal;
    case 2: return in.ConsumeIntegralInRange<uint32_t>(0, 1000);
    default: return in.ConsumeIntegral<uint32_t>();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const uint32_t total = PickCount(in);
    const uint32_t done = PickCount(in);
    const uint32_t more = in.ConsumeBool() ? done : PickCount(in);
    const uint32_t later = done > UINT32_MAX - more ? UINT32_MAX : done + more;
    const int position = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 100) : in.ConsumeIntegral<int>();

    const int percent = ProgressPercent(done, total, position);
    if (total == 0) {
        FUZZ_REQUIRE(percent == 0);
        return 0;
    }
    if (total == kUnknownTotal) {
        // The bar's own positions (steps of 5) go on to the next step.
        if (position >= 0 && position <= 100 && position % 5 == 0)
            FUZZ_REQUIRE(percent == (position == 100 ? 5 : position + 5));
        return 0;
    }

    const uint64_t exact = static_cast<uint64_t>(done) * 100 / total;
    const uint64_t share = exact < 100 ? exact : 100;
    FUZZ_REQUIRE(percent >= 0);
    FUZZ_REQUIRE(static_cast<uint64_t>(percent) <= share && static_cast<uint64_t>(percent) + 1 >= share);
    FUZZ_REQUIRE(percent <= 100);
    if (done == total)
        FUZZ_REQUIRE(percent == 100);
    FUZZ_REQUIRE(ProgressPercent(later, total, position) >= percent);

    const WideString text = ProgressWindowText(percent);
    const WideString shown = std::to_wstring(percent).c_str() + WideString(L"%");
    FUZZ_REQUIRE(text.size() > shown.size() && text.compare(text.size() - shown.size(), shown.size(), shown) == 0);
    return 0;
}

#include "app/ProgressText.h"

#include "common/DecimalText.h"

int ProgressPercent(uint32_t doneBytes, uint32_t totalBytes, int barPosition)
{
    if (totalBytes == kUnknownTotal)
        return barPosition % 100 + 5;
    if (totalBytes == 0)
        return 0;
    // Divide first, in double precision: 29 of 100 is 28.999999999999996 and
    // shows 28. The stores keep the x87 unit of 32-bit builds from carrying
    // extra precision through (which would give 29).
    volatile double share = static_cast<double>(doneBytes) / static_cast<double>(totalBytes);
    volatile double percent = share * 100.0;
    // A server that sends more than it announced: the file is whole at most
    // (and the conversion of a value past int would be undefined).
    if (percent >= 100.0)
        return 100;
    return static_cast<int>(percent);
}

WideString ProgressWindowText(int percent)
{
    return L"\x0417\x0430\x0433\x0440\x0443\x0437\x043A\x0430 \x0431\x0440\x0430\x0443\x0437\x0435\x0440\x0430 "
           L"\x041A\x043E\x0432\x0440\x0430 - " +
           DecimalText(percent) + L"%";
}

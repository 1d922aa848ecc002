#pragma once
// The download percentage shown in the bar and the window text.

#include "common/WideString.h"

#include <cstdint>

// The downloader's total of -1, read as unsigned: no total was announced.
inline constexpr uint32_t kUnknownTotal = 0xFFFFFFFFu;

// The percentage for done of total, at most 100. With an unknown total the
// bar steps on by 5 from its current position (5, 10, ... 100, 5 ...). A
// total of 0 gives 0.
int ProgressPercent(uint32_t doneBytes, uint32_t totalBytes, int barPosition);

// Percentages of 0 to 2 are not shown: nothing changes on the window.
inline bool IsShownPercent(int percent) { return percent > 2; }

// "Загрузка браузера Ковра - 42%"
WideString ProgressWindowText(int percent);

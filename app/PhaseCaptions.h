#pragma once
// The phase captions drawn on the window, letters spaced out.

// "З А Г Р У З К А"
inline constexpr const wchar_t* kDownloadingCaption =
    L"\x0417 \x0410 \x0413 \x0420 \x0423 \x0417 \x041A \x0410";
// "У С Т А Н О В К А"
inline constexpr const wchar_t* kInstallingCaption =
    L"\x0423 \x0421 \x0422 \x0410 \x041D \x041E \x0412 \x041A \x0410";

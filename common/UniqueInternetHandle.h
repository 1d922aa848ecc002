#pragma once
// Owner of one WinINet handle (session, connection, request or URL).

#include "common/UniqueHandle.h"

#include "common/WinInetDll.h"

namespace handle_close {
inline void Internet(HINTERNET h) { WinInetDll::InternetCloseHandle(h); }
} // namespace handle_close

using UniqueHInternet = UniqueHandle<NullNoneTraits<HINTERNET, handle_close::Internet>>;

#pragma once
// Owner of one WinINet handle (session, connection, request or URL).

#include "common/UniqueHandle.h"

#include <wininet.h>

namespace handle_close {
inline void Internet(HINTERNET h) { ::InternetCloseHandle(h); }
} // namespace handle_close

using UniqueHInternet = UniqueHandle<NullNoneTraits<HINTERNET, handle_close::Internet>>;

#pragma once
// Whether a URL the server named may be handed to the shell: only web pages
// (http, https) are opened; a local path or any other scheme would start a
// program or a handler of the server's choosing.

bool IsWebPageUrl(const wchar_t* url);

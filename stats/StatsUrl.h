#pragma once
// The statistics request URL, built from pure pieces so that it can be tested
// without a network.

#include <string>

// "http://" + statistics host + "/update/2/version.txt?"
std::wstring StatsEndpoint();

// "GUID=<id>", the first parameter of every event.
std::wstring IdentifierPiece(const std::wstring& clientId);

// "&<key>=<value>", every further parameter.
std::wstring ParamPiece(const std::wstring& key, const std::wstring& value);

// Decimal text of an exit code read as a signed 32-bit value ("%i").
std::wstring ExitCodeText(int exitCode);

// Longest formatted piece, in characters.
inline constexpr size_t kMaxStatsPiece = 511;

// Keys and values go in as they are, '&' and '=' included, except for the
// characters that would let a stored text reach past the query: control
// characters (a CR LF would start a new header line), space, '#' (which would
// end the query) and anything outside ASCII. Those are percent-encoded (UTF-8).
std::wstring EscapeQueryText(const std::wstring& text);

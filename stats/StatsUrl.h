#pragma once
// The statistics request URL, built from pure pieces so that it can be tested
// without a network.

#include "common/WideString.h"

// "http://" + statistics host + "/update/2/version.txt?"
WideString StatsEndpoint();

// "GUID=<id>", the first parameter of every event.
WideString IdentifierPiece(const WideString& clientId);

// "&<key>=<value>", every further parameter.
WideString ParamPiece(const WideString& key, const WideString& value);

// Decimal text of an exit code read as a signed 32-bit value ("%i").
WideString ExitCodeText(int exitCode);

// Longest formatted piece, in characters.
inline constexpr size_t kMaxStatsPiece = 511;

// Keys and values go in as they are, '&' and '=' included, except for the
// characters that would let a stored text reach past the query: control
// characters (a CR LF would start a new header line), space, '#' (which would
// end the query) and anything outside ASCII. Those are percent-encoded (UTF-8).
WideString EscapeQueryText(const WideString& text);

#pragma once
// The per-user client identifier sent with every statistics event: a GUID made
// once for the user account and kept in the registry.

#include "common/WideString.h"

// Registry location of the identifier.
inline constexpr const wchar_t* kClientIdKeyPath = L"Software\\Velmora\\KovraInstaller";
inline constexpr const wchar_t* kClientIdValueName = L"GUID";

// The identifier for this process: read or created on the first call, then
// served from memory for the rest of the run.
WideString GetClientId();

// The stored identifier, or a new one that is stored when none can be read.
WideString LoadOrCreateClientId();

// The stored text, empty when there is none or it cannot be read.
WideString ReadStoredClientId();

// Stores a non-empty text; failures are not reported.
void WriteStoredClientId(const WideString& text);

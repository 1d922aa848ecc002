#pragma once
// The per-user client identifier sent with every statistics event: a GUID made
// once for the user account and kept in the registry.

#include <string>

// Registry location of the identifier.
inline constexpr const wchar_t* kClientIdKeyPath = L"Software\\Velmora\\KovraInstaller";
inline constexpr const wchar_t* kClientIdValueName = L"GUID";

// The identifier for this process: read or created on the first call, then
// served from memory for the rest of the run.
std::wstring GetClientId();

// The stored identifier, or a new one that is stored when none can be read.
std::wstring LoadOrCreateClientId();

// The stored text, empty when there is none or it cannot be read.
std::wstring ReadStoredClientId();

// Stores a non-empty text; failures are not reported.
void WriteStoredClientId(const std::wstring& text);

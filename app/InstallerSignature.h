#pragma once
// Whether a downloaded installer carries a valid Authenticode signature by
// the pinned publisher. The file is read through a handle the caller holds,
// so what is checked is the file the caller goes on to run.

#include "app/PublisherKeyPin.h"

#include <windows.h>

// The code for a valid signature whose signer is not the pinned publisher
// (also for a malformed pin, which no signer matches): "the subject is not
// trusted for the specified action", 0x800B0004.
const LONG kSignedByAnotherPublisher = TRUST_E_SUBJECT_NOT_TRUSTED;

// The code for a trusted signature whose signer certificate cannot be read
// back, 0x80096002.
const LONG kSignerUnreadable = TRUST_E_NO_SIGNER_CERT;

// 0 when `file` (opened with read access, named `path`) is signed by the
// pinned publisher; otherwise WinVerifyTrust's code (TRUST_E_NOSIGNATURE,
// TRUST_E_BAD_DIGEST, ...) or one of the two codes above. Nothing is fetched
// from the network: no revocation check, no chain download.
LONG VerifyPublisherSignature(HANDLE file, const wchar_t* path, const PublisherKeyPin& pin);

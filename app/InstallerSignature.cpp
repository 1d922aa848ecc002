#include "app/InstallerSignature.h"

#include "common/TrustState.h"

#include <wincrypt.h>
#include <softpub.h>

namespace {

// SHA-256 of the primary signer's SubjectPublicKeyInfo, from the state of a
// verification that succeeded.
bool SignerKeySha256(HANDLE state, uint8_t (&keySha256)[32])
{
    CRYPT_PROVIDER_DATA* provider = WinTrustDll::WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* signer = provider ? WinTrustDll::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    // Element 0 of the signer's chain is its own certificate.
    CRYPT_PROVIDER_CERT* certificate = signer ? WinTrustDll::WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    if (!certificate || !certificate->pCert || !certificate->pCert->pCertInfo)
        return false;
    DWORD size = sizeof keySha256;
    return Crypt32Dll::CryptHashPublicKeyInfo(0, CALG_SHA_256, 0, X509_ASN_ENCODING,
                                    &certificate->pCert->pCertInfo->SubjectPublicKeyInfo, keySha256, &size) &&
           size == sizeof keySha256;
}

} // namespace

LONG VerifyPublisherSignature(HANDLE file, const wchar_t* path, const PublisherKeyPin& pin)
{
    WINTRUST_FILE_INFO subject{};
    subject.cbStruct = sizeof subject;
    subject.pcwszFilePath = path;
    subject.hFile = file;

    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &subject;
    // The loader may run where the network is slow or filtered: the check
    // must not wait on certificate or revocation servers.
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;

    const GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    TrustState trust(action, data);
    if (trust.result() != ERROR_SUCCESS)
        return trust.result();
    uint8_t keySha256[32];
    if (!SignerKeySha256(trust.get(), keySha256))
        return kSignerUnreadable;
    return KeyMatchesPin(keySha256, pin) ? 0 : kSignedByAnotherPublisher;
}

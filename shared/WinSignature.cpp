#include "WinSignature.h"

#include "Sha256.h"
#include "WinHandle.h"

#include <wincrypt.h>

#include <softpub.h>
#include <wintrust.h>

#include <cstdio>

namespace
{

inline PCCERT_CONTEXT nullCert()
{
    return nullptr;
}
using UniqueCert = UniqueHandle<PCCERT_CONTEXT, decltype(&::CertFreeCertificateContext),
                                ::CertFreeCertificateContext, nullCert>;

std::string thumbprintOf(PCCERT_CONTEXT cert)
{
    return sha256Of(cert->pbCertEncoded, cert->cbCertEncoded).value_or("");
}

// The certificate's simple name and serial number: "NAME (serial HEX)".
std::string subjectOf(PCCERT_CONTEXT cert)
{
    char name[256] = "";
    CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof name);
    std::string serial;
    const CRYPT_INTEGER_BLOB& number = cert->pCertInfo->SerialNumber;
    for (DWORD i = number.cbData; i > 0; --i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", number.pbData[i - 1]);
        serial += hex;
    }
    return std::string(name) + " (serial " + serial + ")";
}

// The signer's certificate of a verification's state; null when none.
PCCERT_CONTEXT signerCertOf(HANDLE state)
{
    CRYPT_PROVIDER_DATA* provider = state ? WTHelperProvDataFromStateData(state) : nullptr;
    CRYPT_PROVIDER_SGNR* signer =
        provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (!signer || signer->csCertChain == 0 || !signer->pasCertChain)
        return nullptr;
    return signer->pasCertChain[0].pCert;
}

std::wstring wideOf(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
    return wide;
}

} // namespace

ImageSignature imageSignature(const std::string& path)
{
    ImageSignature result;
    const std::wstring wide = wideOf(path);
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = wide.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG code = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (PCCERT_CONTEXT cert = signerCertOf(data.hWVTStateData)) {
        result.signer = thumbprintOf(cert);
        result.subject = subjectOf(cert);
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    result.code = code;
    if (code == ERROR_SUCCESS)
        result.state = ImageSignature::State::Valid;
    else if (code == TRUST_E_NOSIGNATURE || code == TRUST_E_SUBJECT_FORM_UNKNOWN)
        result.state = ImageSignature::State::Unsigned;
    else if (code == TRUST_E_BAD_DIGEST)
        result.state = ImageSignature::State::Changed;
    else if (!result.signer.empty())
        result.state = ImageSignature::State::Untrusted;
    return result;
}

DetachedSignature detachedSignature(const std::string& content, const std::string& signature)
{
    DetachedSignature result;
    if (signature.empty()) {
        result.why = "is empty";
        return result;
    }
    CRYPT_VERIFY_MESSAGE_PARA para{};
    para.cbSize = sizeof para;
    para.dwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    const BYTE* pieces[] = {reinterpret_cast<const BYTE*>(content.data())};
    DWORD sizes[] = {static_cast<DWORD>(content.size())};
    PCCERT_CONTEXT signer = nullptr;
    const BOOL valid = CryptVerifyDetachedMessageSignature(
        &para, 0, reinterpret_cast<const BYTE*>(signature.data()),
        static_cast<DWORD>(signature.size()), 1, pieces, sizes, &signer);
    const DWORD error = GetLastError();
    UniqueCert owned(signer);
    if (owned) {
        result.signer = thumbprintOf(owned.get());
        result.subject = subjectOf(owned.get());
    }
    result.valid = valid && owned;
    if (!result.valid) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(error));
        result.why =
            error == static_cast<DWORD>(NTE_BAD_SIGNATURE) ||
                    error == static_cast<DWORD>(CRYPT_E_HASH_VALUE)
                ? "does not match SHA256SUMS (one of them changed after signing)"
                : std::string("is no signature of SHA256SUMS that can be read (") + code + ")";
    }
    return result;
}

// Who signed what, on Windows: the Authenticode signature of an image
// (WinVerifyTrust) and the detached CMS signature of the checksum list
// (crypt32). A signer is named by its certificate's SHA-256 thumbprint
// (lower-case hexadecimal), the form a publisher is pinned by.
#pragma once

#include <string>

struct ImageSignature {
    enum class State {
        Unsigned,  // the image carries no signature
        Valid,     // it matches the image, its certificate chains to a trusted root
        Untrusted, // it matches the image, its certificate is not trusted here
        Changed,   // it does not match the image (changed after signing)
        Unreadable // the image or its signature cannot be read
    };
    State state = State::Unreadable;
    long code = 0;       // WinVerifyTrust's result
    std::string signer;  // the signing certificate's thumbprint; "" unknown
    std::string subject; // its name and serial number, as shown; "" unknown
};

ImageSignature imageSignature(const std::string& path);

struct DetachedSignature {
    bool valid = false;  // a CMS signature of exactly content, by signer
    std::string signer;  // the signing certificate's thumbprint; "" unknown
    std::string subject; // its name and serial number
    std::string why;     // when not valid
};

// The detached CMS (PKCS#7) signature in signature, DER, of content: that
// it is one, and by whom. The certificate's chain is not judged here.
DetachedSignature detachedSignature(const std::string& content, const std::string& signature);

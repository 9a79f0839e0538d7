// Authenticode signatures of the deliverables: signing them (natively, with
// osslsigncode) and checking a signature (natively through osslsigncode
// verify, on Windows through WinVerifyTrust).
#pragma once

#include <optional>
#include <string>

struct SigningKey {
    std::string pfx;          // the PKCS#12 file with the certificate and its key
    std::string passwordFile; // its password on the first line; "" for none
    std::string timestampUrl; // "" for no time stamp
};

// Why the key cannot sign (cannot be read, wrong password, expired or not
// yet valid); "" when it can.
std::string signingKeyProblem(const SigningKey& key);

// Signs the image at from with SHA-256 into to. False with why when it
// fails.
bool signImage(const SigningKey& key, const std::string& from, const std::string& to,
               std::string& why);

struct SignatureCheck {
    bool valid = false;
    std::string signer;     // the signer's certificate, as the platform names it ("" unknown)
    std::string thumbprint; // its SHA-256 thumbprint, lower-case hexadecimal ("" unknown)
    std::string why;        // when not valid
};

// The signature of a signed image, checked: its digest against the image,
// and its certificate's chain against the system's trusted roots or, when
// caFile is given, the certificates in that file.
SignatureCheck checkSignature(const std::string& path, const std::string& caFile);

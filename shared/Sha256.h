// SHA-256 with the platform's own implementation: the system's CNG
// (bcrypt.dll) on Windows, OpenSSL's libcrypto natively. No windows.h here.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False once anything failed (also when the hash could not be made).
    bool ok() const { return state_ != nullptr && !failed_; }
    void add(const void* data, std::size_t n);
    // The digest as 64 lower-case hexadecimal digits; none when anything
    // failed. Ends the hash.
    std::optional<std::string> finish();

private:
    struct State;
    std::unique_ptr<State> state_;
    bool failed_ = false;
};

// The SHA-256 of the bytes, as Sha256::finish gives it.
std::optional<std::string> sha256Of(const void* data, std::size_t n);

// The thumbprint in the form the tools compare and show: lower-case
// hexadecimal without separators. Colons, spaces and upper case (as
// openssl and Windows print thumbprints) are accepted; "" when what is left
// is no SHA-256 (64 hexadecimal digits).
std::string normalThumbprint(const std::string& text);

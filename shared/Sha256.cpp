#include "Sha256.h"

#include <cctype>
#include <new>

#ifdef _WIN32
#include <windows.h>

#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace
{

constexpr std::size_t kDigestSize = 32;

std::string hexOf(const unsigned char* bytes, std::size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

} // namespace

#ifdef _WIN32
struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State()
    {
        if (hash)
            BCryptDestroyHash(hash);
        if (algorithm)
            BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

Sha256::Sha256() : state_(new (std::nothrow) State)
{
    if (state_ &&
        (BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) !=
             0 ||
         BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0) != 0))
        failed_ = true;
}

void Sha256::add(const void* data, std::size_t n)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    while (ok() && n > 0) {
        const ULONG piece = n > 0x40000000 ? 0x40000000 : static_cast<ULONG>(n);
        failed_ = BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), piece, 0) != 0;
        bytes += piece;
        n -= piece;
    }
}

std::optional<std::string> Sha256::finish()
{
    unsigned char digest[kDigestSize];
    if (!ok() || BCryptFinishHash(state_->hash, digest, kDigestSize, 0) != 0) {
        failed_ = true;
        return std::nullopt;
    }
    failed_ = true; // finished: no more data
    return hexOf(digest, kDigestSize);
}
#else
struct Sha256::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(new (std::nothrow) State)
{
    if (state_ &&
        (!state_->context || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1))
        failed_ = true;
}

void Sha256::add(const void* data, std::size_t n)
{
    if (ok() && n > 0)
        failed_ = EVP_DigestUpdate(state_->context, data, n) != 1;
}

std::optional<std::string> Sha256::finish()
{
    unsigned char digest[kDigestSize];
    if (!ok() || EVP_DigestFinal_ex(state_->context, digest, nullptr) != 1) {
        failed_ = true;
        return std::nullopt;
    }
    failed_ = true; // finished: no more data
    return hexOf(digest, kDigestSize);
}
#endif

Sha256::~Sha256() = default;

std::optional<std::string> sha256Of(const void* data, std::size_t n)
{
    Sha256 hash;
    hash.add(data, n);
    return hash.finish();
}

std::string normalThumbprint(const std::string& text)
{
    std::string hex;
    for (const char c : text) {
        if (c == ':' || c == ' ')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return "";
        hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return hex.size() == 2 * kDigestSize ? hex : "";
}

#include "Digest.h"

#include <cstdio>
#include <memory>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace
{

constexpr std::size_t kDigestSize = 32;
constexpr std::size_t kChunk = 1 << 16;

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

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

#ifdef _WIN32
// The hash object of one digest, its algorithm provider with it.
class Hasher
{
public:
    Hasher()
    {
        if (BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
            algorithm_ = nullptr;
        else if (BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0) != 0)
            hash_ = nullptr;
    }
    ~Hasher()
    {
        if (hash_)
            BCryptDestroyHash(hash_);
        if (algorithm_)
            BCryptCloseAlgorithmProvider(algorithm_, 0);
    }
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;
    bool ok() const { return hash_ != nullptr; }
    bool add(const unsigned char* data, std::size_t n)
    {
        return BCryptHashData(hash_, const_cast<PUCHAR>(data), static_cast<ULONG>(n), 0) == 0;
    }
    bool finish(unsigned char* out) { return BCryptFinishHash(hash_, out, kDigestSize, 0) == 0; }

private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
};
#else
class Hasher
{
public:
    Hasher() : context_(EVP_MD_CTX_new())
    {
        if (context_ && EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) {
            EVP_MD_CTX_free(context_);
            context_ = nullptr;
        }
    }
    ~Hasher() { EVP_MD_CTX_free(context_); }
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;
    bool ok() const { return context_ != nullptr; }
    bool add(const unsigned char* data, std::size_t n)
    {
        return EVP_DigestUpdate(context_, data, n) == 1;
    }
    bool finish(unsigned char* out) { return EVP_DigestFinal_ex(context_, out, nullptr) == 1; }

private:
    EVP_MD_CTX* context_;
};
#endif

} // namespace

std::optional<std::string> sha256OfFile(const std::string& path)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    Hasher hasher;
    if (!file || !hasher.ok())
        return std::nullopt;
    std::vector<unsigned char> buffer(kChunk);
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        if (!hasher.add(buffer.data(), got))
            return std::nullopt;
    if (std::ferror(file.get()))
        return std::nullopt;
    unsigned char digest[kDigestSize];
    if (!hasher.finish(digest))
        return std::nullopt;
    return hexOf(digest, kDigestSize);
}

#include "FileFacts.h"

#include <cctype>

std::optional<std::string> sumsOf(const std::string& dir, const std::vector<std::string>& files,
                                  std::string& failed)
{
    std::string text;
    for (const std::string& relative : files) {
        const std::optional<std::string> digest = sha256OfFile(hostPath(dir, relative));
        if (!digest) {
            failed = relative;
            return std::nullopt;
        }
        std::string slashed = relative;
        for (char& c : slashed)
            if (c == '\\')
                c = '/';
        text += *digest + "  " + slashed + "\n";
    }
    return text;
}

std::vector<SumsEntry> parseSums(const std::string& text, std::vector<std::size_t>& bad)
{
    std::vector<SumsEntry> entries;
    std::size_t at = 0;
    std::size_t number = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        bool hex = line.size() > 66 && (line[64] == ' ') && (line[65] == ' ' || line[65] == '*');
        for (std::size_t i = 0; hex && i < 64; ++i)
            hex = std::isxdigit(static_cast<unsigned char>(line[i])) != 0;
        if (!hex) {
            bad.push_back(number);
            continue;
        }
        SumsEntry entry;
        entry.line = number;
        entry.digest = line.substr(0, 64);
        for (char& c : entry.digest)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        entry.path = line.substr(66);
        for (char& c : entry.path)
            if (c == '/')
                c = '\\';
        entries.push_back(std::move(entry));
    }
    return entries;
}

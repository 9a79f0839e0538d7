#include "Digest.h"

#include "FileFacts.h"
#include "Sha256.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace
{

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

std::optional<std::string> sha256OfFile(const std::string& path)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return std::nullopt;
    Sha256 hash;
    std::vector<unsigned char> buffer(1 << 16);
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        hash.add(buffer.data(), got);
    if (std::ferror(file.get()))
        return std::nullopt;
    return hash.finish();
}

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

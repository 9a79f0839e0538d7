#include "StepForms.h"

#include "FileNames.h"
#include "Text.h"

#include <cstring>

namespace
{

constexpr std::size_t kMaxPath = 260;

bool isDigits(const std::string& text)
{
    if (text.empty())
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

bool isPlainLocalPath(const std::string& path)
{
    if (path.size() < 4 || path.size() >= kMaxPath || path[1] != ':' || path[2] != '\\')
        return false;
    const char drive = lowerAscii(path[0]);
    if (drive < 'a' || drive > 'z')
        return false;
    for (std::size_t at = 3; at <= path.size();) {
        std::size_t end = path.find('\\', at);
        if (end == std::string::npos)
            end = path.size();
        if (!isPlainName(path.substr(at, end - at)))
            return false;
        at = end + 1;
    }
    return true;
}

bool isKeptFileForm(const std::string& name)
{
    const char prefix[] = "files\\";
    if (name.compare(0, sizeof prefix - 1, prefix) != 0)
        return false;
    const std::size_t folder = sizeof prefix - 1;
    const std::size_t slash = name.find('\\', folder);
    return slash != std::string::npos && isDigits(name.substr(folder, slash - folder)) &&
           isDigits(name.substr(slash + 1));
}

bool isKeyOnTheWay(const std::string& outer, const std::string& key)
{
    if (isBlankText(outer.c_str()) || outer.size() > key.size() ||
        !equalsNoCaseN(key.c_str(), outer.size(), outer.c_str()))
        return false;
    return outer.size() == key.size() || key[outer.size()] == '\\';
}

bool isDirectlyIn(const std::string& path, const std::string& dir)
{
    return !dir.empty() && path.size() > dir.size() + 1 &&
           equalsNoCaseN(path.c_str(), dir.size(), dir.c_str()) && path[dir.size()] == '\\' &&
           path.find('\\', dir.size() + 1) == std::string::npos;
}

#include "Findings.h"

#include <nlohmann/json.hpp>

void Findings::add(const std::string& file, std::size_t line, Severity severity,
                   const std::string& text)
{
    items_.insert(Finding{file, line, severity, text});
}

std::size_t Findings::errors() const
{
    std::size_t n = 0;
    for (const Finding& f : items_)
        n += f.severity == Severity::Error;
    return n;
}

std::size_t Findings::warnings() const
{
    return items_.size() - errors();
}

static const char* severityName(Severity s)
{
    return s == Severity::Error ? "error" : "warning";
}

void Findings::printText(std::FILE* out) const
{
    // A finding of a whole file has no line number, as GCC prints it.
    for (const Finding& f : items_)
        if (f.line == 0)
            std::fprintf(out, "%s: %s: %s\n", f.file.c_str(), severityName(f.severity),
                         f.text.c_str());
        else
            std::fprintf(out, "%s:%zu: %s: %s\n", f.file.c_str(), f.line, severityName(f.severity),
                         f.text.c_str());
    std::fprintf(out, "%zu error(s), %zu warning(s)\n", errors(), warnings());
}

void Findings::printJson(std::FILE* out, const std::string& dir) const
{
    nlohmann::json doc;
    doc["directory"] = dir;
    doc["errors"] = errors();
    doc["warnings"] = warnings();
    nlohmann::json list = nlohmann::json::array();
    for (const Finding& f : items_)
        list.push_back({{"file", f.file},
                        {"line", f.line},
                        {"severity", severityName(f.severity)},
                        {"text", f.text}});
    doc["findings"] = list;
    std::fprintf(out, "%s\n",
                 doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

// What a check found: one finding per (file, line, text), printed in file
// and line order, GCC style or as one JSON document.
#pragma once

#include "ReadDiagnostics.h"

#include <cstddef>
#include <cstdio>
#include <set>
#include <string>
#include <tuple>

struct Finding {
    std::string file;
    std::size_t line;
    Severity severity;
    std::string text;
    bool operator<(const Finding& o) const
    {
        return std::tie(file, line, text) < std::tie(o.file, o.line, o.text);
    }
};

class Findings
{
public:
    // Adds a finding unless the same file, line and text is already there.
    void add(const std::string& file, std::size_t line, Severity severity, const std::string& text);
    std::size_t errors() const;
    std::size_t warnings() const;
    void printText(std::FILE* out) const;
    void printJson(std::FILE* out, const std::string& dir) const;

private:
    std::set<Finding> items_;
};

// A reader's sink that files what it reports under one file name; taken
// and passed go to the optional callbacks' lists.
class FindingSink : public ReadDiagnostics
{
public:
    FindingSink(Findings& findings, std::string file) : findings_(findings), file_(std::move(file))
    {
    }
    void report(std::size_t line, Severity severity, const char* text) override
    {
        findings_.add(file_, line, severity, text);
    }

private:
    Findings& findings_;
    std::string file_;
};

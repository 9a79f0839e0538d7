// The forms that the steps of a kept run take when this patch wrote them:
// a plain local path, a kept file's name, a key on the way to another. An
// undo applies nothing of another form.
//
// Pure text handling (no file system), unit-tested natively.
#pragma once

#include <string>

// True when path is a full local path in its plain form: a drive letter, a
// colon, then parts separated by single backslashes, each a name that the
// file system keeps as spelt (no "." or "..", no trailing dot or space, no
// wildcard, colon or other character that a file name cannot hold, no
// device name such as "NUL" or "COM1"), with no trailing backslash and
// shorter than a path may be (260). A drive's root alone is no such path.
bool isPlainLocalPath(const std::string& path);

// True when name is one that the keeper gives a kept file below a run's
// folder: "files", a folder number and a file number, each of digits only
// ("files\0\17").
bool isKeptFileForm(const std::string& name);

// True when outer is key or a key on the way to it (whole parts, letter case
// aside): "Software\A" is on the way to "Software\A\B", "Software\AB" is
// not. A blank outer is on the way to nothing.
bool isKeyOnTheWay(const std::string& outer, const std::string& key);

// True when path lies directly in dir (dir, one backslash, one name), both
// compared without regard to the case of ASCII letters.
bool isDirectlyIn(const std::string& path, const std::string& dir);

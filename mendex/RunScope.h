// Whether a kept run holds only what this patch could have done to an
// installation found on the machine now: files in its program, toolkit and
// OCR folders (and the toolkit folder that the run adopted elsewhere, when
// it says so) or listed by the update script, kept files under the names
// the keeper gives, and the registry values that the script's section for
// the product writes. An undo applies a run only when every step passes:
// a record that names anything else was not written by this patch for
// this installation, and none of it is applied.
#pragma once

#include "InstallRecord.h"

#include <cstddef>
#include <string>

struct KeptRun;

// "" when every step of run lies within the installation of its product
// among the count installations found (Update.src of the current
// directory names the listed files and the values), else why not.
std::string whyOutOfScope(const KeptRun& run, const InstallRecord* installations,
                          std::size_t count);

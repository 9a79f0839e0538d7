// Compiles the record's layout checks into every build.
#include "InstallRecord.h"

// IsOVPixoraSWInstalled: the next installed release of the catalogue.
#include "LibData.h"
#include "ProductList.h"
#include "Scoutex.h"

#include "DiagLog.h"
#include "ResultCodes.h"

#include <cstring>

extern "C" int IsOVPixoraSWInstalled(InstallRecord* record)
{
    UniqueStdFile file = openDataFile("libdata.src");
    if (!file) {
        DiagLog("\n>Lib Data: Error opening file.");
        return kDataFileOpen;
    }
    DiagLog("\n>Lib Data: File opened.");
    if (record)
        std::memset(record, 0, sizeof *record);

    LineReader reader(file.get());
    reader.rewind();
    char key[kLibTextSize];
    while (nextSectionKey(reader, key)) {
        if (IsPXInLL(key))
            continue;
        const bool installed = FindOVPixoraAppInstalled(key, record) == 0 &&
                               FindOVPxoraSWPath(key, record ? record->programDir : nullptr,
                                                 record ? 512 : 0, record) == 0;
        if (installed) {
            file.reset();
            AddLastPXToLL(key);
            return kOk;
        }
        // What a rejected release wrote must not reach the next one.
        if (record)
            std::memset(record, 0, sizeof *record);
    }
    return kNoMoreProducts;
}

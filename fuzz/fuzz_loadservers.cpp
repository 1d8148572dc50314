// Fuzzes reading the server list file: the input bytes become Servers.xml in
// the program folder and LoadServers reads them into a fresh list.  Besides
// crashes and undefined behaviour it checks that a load that answers true
// took at least one entry, that every entry is trimmed text, and that a load
// that answers false has reported why.

#include "fuzzglobals.h"

#include "servers/serverfile.h"
#include "servers/serverlist.h"

#include <QFile>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzGlobals &fuzz = FuzzGlobals::get();
    {
        QFile file(fuzz.serversFile());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    ServerList list;
    fuzz.globals.sink.lines.clear();
    if (LoadServers(list)) {
        if (list.Count() == 0)
            std::abort();
        for (const QString &entry : list.items()) {
            if (entry != entry.trimmed())
                std::abort();
        }
    } else if (fuzz.globals.sink.lines.isEmpty()) {
        std::abort();
    }
    return 0;
}

// Fuzzes reading the server list file: the input bytes become Servers.xml in
// the program folder and the list is loaded afresh from them.  Besides
// crashes and undefined behaviour it checks that a load that answers true
// took at least one entry, that every entry is trimmed text, and that a load
// that answers false has reported why.

#include "fixture.h"

#include <cstdint>
#include <cstdlib>

namespace {

// The program without a window, on a temporary program folder.
Program &program()
{
    static Program p([] {
        Setup setup;
        setup.headless = true;
        return setup;
    }());
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Program &p = program();
    if (!writeFile(p.folder() + QStringLiteral("Servers.xml"), QByteArray(reinterpret_cast<const char *>(data), qsizetype(size))))
        std::abort();
    p.setServers({});
    p.clearPane();
    if (p.loadServers()) {
        if (p.servers().isEmpty())
            std::abort();
        for (const QString &entry : p.servers()) {
            if (entry != entry.trimmed())
                std::abort();
        }
    } else if (p.pane().isEmpty()) {
        std::abort();
    }
    return 0;
}

// Fuzzes the remote address rules: CheckAddress on any text, and on the
// digits and dots of it (the texts that reach the dotted-address rules).  The
// input bytes are taken as UTF-8 (invalid bytes become U+FFFD, as text typed
// or pasted into the address box could hold).  Besides crashes and undefined
// behaviour it checks what the rules promise: an accepted text leaves the
// reason alone, a refusal gives a reason or reports a failure, and an
// accepted address of four dotted pieces has pieces of 0 to 255 only, the
// first neither 0, 127 nor 224 and above.

#include "fixture.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

// The machine PC17 in EXAMPLE.TEST with one adapter 192.0.2.10/24, no window.
Program &program()
{
    static Program p([] {
        Setup setup;
        setup.dnsDomain = QStringLiteral("EXAMPLE.TEST");
        setup.headless = true;
        return setup;
    }());
    return p;
}

void check(const QString &text, bool dotted)
{
    Program &p = program();
    p.clearPane();
    const QString untouched = QStringLiteral("untouched");
    QString reason = untouched;
    if (p.checkAddress(text, &reason)) {
        if (reason != untouched)
            std::abort();
        // Four pieces of one to three digits make an address; other texts
        // of digits and dots are names.
        const QStringList pieces = text.split(u'.');
        const auto name = [](const QString &piece) { return piece.isEmpty() || piece.size() > 3; };
        if (!dotted || pieces.size() != 4 || std::any_of(pieces.begin(), pieces.end(), name))
            return;
        for (const QString &piece : pieces) {
            if (piece.toInt() > 255)
                std::abort();
        }
        const int first = pieces.first().toInt();
        if (first == 0 || first == 127 || first >= 224)
            std::abort();
    } else if (reason == untouched && p.pane().isEmpty()) {
        std::abort(); // refused without a reason and without a report
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    check(text, false);
    QString dotted;
    for (const QChar c : text) {
        if ((c.isDigit() && c.unicode() < 128) || c == u'.')
            dotted += c;
    }
    check(dotted, true);
    return 0;
}

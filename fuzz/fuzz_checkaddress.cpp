// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Fuzzes the remote address rules: CheckAddress on any text, and CheckIP on
// texts of digits and dots (the only texts CheckAddress hands it).  The input
// bytes are taken as UTF-8 (invalid bytes become U+FFFD, as text typed or
// pasted into the address box could hold).  Besides crashes and undefined
// behaviour it checks what the rules promise: an accepted text leaves the
// message alone, a refusal gives a reason or reports a failure, and an
// address CheckIP accepts has pieces of 0 to 255 only, the first neither 0,
// 127 nor 224 and above.

#include "fuzzsupport.h"

#include "base/dialogs.h"
#include "netenv/addressrules.h"
#include "netenv/localadapters.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    struct NoDialogs final : Dialogs
    {
        void MsgBox(const QString &) override {}
        QString InputBox(const QString &, const QString &) override { return {}; }
    };
    static PinnedEnvironment env;
    static OneAdapter source;
    static NoDialogs dialogs;
    static CountingSink sink;
    static LocalAdapters adapters(source, dialogs, sink);
    [[maybe_unused]] static const bool connected = adapters.CheckConnected();
    static const AddressRules rules(env, adapters, sink);

    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    const QString untouched = QStringLiteral("untouched");
    QString message = untouched;
    if (rules.CheckAddress(text, message)) {
        if (message != untouched)
            std::abort();
    }

    QString dotted;
    for (const QChar c : text) {
        if (c.isDigit() && c.unicode() < 128)
            dotted += c;
        else if (c == u'.')
            dotted += c;
    }
    message = untouched;
    const int reported = sink.lines;
    if (rules.CheckIP(dotted, message)) {
        if (message != untouched)
            std::abort();
        const QStringList pieces = dotted.split(u'.');
        for (const QString &piece : pieces) {
            bool ok = false;
            const int value = piece.toInt(&ok);
            if (!ok || value < 0 || value > 255)
                std::abort();
        }
        const int first = pieces.first().toInt();
        if (first == 0 || first == 127 || first >= 224)
            std::abort();
    } else if (message == untouched && sink.lines == reported) {
        std::abort(); // refused without a reason and without a report
    }
    return 0;
}

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Fuzzes the escapes of the send box against the display of received bytes.
// The input bytes, shown as the messages pane shows them, must read back
// into exactly those bytes, without a refusal.  Taken as UTF-8 text (invalid
// bytes become U+FFFD) and read as typed, they must not crash the reader, and
// a refusal must point at a backslash of the text.

#include "session/escapes.h"
#include "session/textcodec.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));

    const EscapedBytes shown = ReadEscapes(DecodeReceived(bytes, true).text);
    if (!shown.error.isEmpty() || shown.position != 0 || shown.bytes != bytes)
        std::abort();

    const QString text = QString::fromUtf8(bytes);
    const EscapedBytes typed = ReadEscapes(text);
    if (typed.error.isEmpty() != (typed.position == 0))
        std::abort();
    if (typed.position != 0) {
        const QList<uint> characters = text.toUcs4();
        if (typed.position < 1 || typed.position > characters.size()
            || characters[typed.position - 1] != '\\')
            std::abort();
    }
    return 0;
}

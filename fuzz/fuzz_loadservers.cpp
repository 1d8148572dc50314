// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Fuzzes reading the server list file: ServerFile reads the input bytes as
// Servers.xml.  Besides crashes, undefined behaviour and runaway time or
// memory (the reader's limits), it checks that a document that reads has
// trimmed entries only, and that a failure always says why.

#include "servers/serverfile.h"

#include <QBuffer>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    ServerFile file;
    if (file.read(device)) {
        for (const QString &entry : file.entries()) {
            if (entry != entry.trimmed())
                std::abort();
        }
    } else if (file.errorString().isEmpty() && file.refusal().isEmpty()) {
        std::abort();
    }
    return 0;
}

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "terminalface.h"

#include <QHostAddress>
#include <QTextStream>

namespace {

const QString Refusal = QStringLiteral("++ PEBKAC");

} // namespace

bool IsComplaint(const QString &speaker)
{
    return speaker.startsWith(QLatin1String("**")) || speaker.startsWith(QLatin1String("++"))
           || speaker.endsWith(QLatin1String(" Error"));
}

TerminalFace::TerminalFace(QTextStream &out, QTextStream &err) : m_out(out), m_err(err) {}

void TerminalFace::showLine(const QString &speaker, const QString &line)
{
    const bool complaint = IsComplaint(speaker);
    m_sawFailure = m_sawFailure || (complaint && speaker != Refusal);
    if (!complaint
        && (m_shown == Shown::Complaints
            || (m_shown == Shown::NoData && !QHostAddress(speaker).isNull())))
        return;
    QString shown = line;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (!shown.endsWith(u'\n'))
        shown += u'\n';
    QTextStream &stream = complaint ? m_err : m_out;
    stream << shown;
    stream.flush();
}

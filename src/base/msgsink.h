// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
#include <QString>

inline const QString CRLF = QStringLiteral("\r\n");

// Where every line the program tells the user goes.  The main window
// implements it with its messages pane and the log; tests record the lines.
class MsgSink
{
public:
    virtual ~MsgSink() = default;
    virtual void AddToMsgsBox(const QString &speaker, const QString &sentence) = 0;
};

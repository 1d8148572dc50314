// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The dialogs of a run without a window: a message box is printed on
// standard error ("I can't find an active network connection; ..."), and
// nothing asks for input.

#include "base/dialogs.h"

#include <QTextStream>

class PrintedDialogs final : public Dialogs
{
public:
    explicit PrintedDialogs(QTextStream &err) : m_err(err) {}
    void MsgBox(const QString &prompt) override { m_err << prompt << Qt::endl; }
    QString InputBox(const QString &, const QString &) override { return {}; }

private:
    QTextStream &m_err;
};

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "qtdialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

void QtDialogs::MsgBox(const QString &prompt)
{
    QMessageBox box(QMessageBox::NoIcon, AppTitle, prompt, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

QString QtDialogs::InputBox(const QString &prompt, const QString &defaultText)
{
    bool ok = false;
    const QString text = QInputDialog::getText(QApplication::activeWindow(), AppTitle, prompt,
                                               QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

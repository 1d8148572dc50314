// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
#include <QString>

// The message box and the input box, both titled "Selmarin".  Everything that
// asks or tells the user in a dialog goes through this interface, so tests can
// answer in place of a person.
class Dialogs
{
public:
    virtual ~Dialogs() = default;
    // A message box with an OK button only and no icon; returns when closed.
    virtual void MsgBox(const QString &prompt) = 0;
    // An input box offering defaultText; the typed text, or an empty text
    // when the user cancels.
    virtual QString InputBox(const QString &prompt, const QString &defaultText) = 0;
};

inline const QString AppTitle = QStringLiteral("Selmarin");

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
#include "base/dialogs.h"

// The dialogs as the user sees them: Qt's message box and input dialog, over
// the active window.
class QtDialogs final : public Dialogs
{
public:
    void MsgBox(const QString &prompt) override;
    QString InputBox(const QString &prompt, const QString &defaultText) override;
};

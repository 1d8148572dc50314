// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "describe.h"

#include <QWidget>

void Describe(QWidget &widget, const QString &text)
{
    if (widget.accessibleDescription() != text)
        widget.setAccessibleDescription(text);
}

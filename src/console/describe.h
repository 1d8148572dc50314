// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// A control's description for screen readers, as the controls that tell
// their state by it (the status lights, the plot, the figures) set it.

class QString;
class QWidget;

// Sets a control's description for screen readers.  Setting it tells a
// listening screen reader that it changed, even when it did not: a
// description that is already the control's is not set again.
void Describe(QWidget &widget, const QString &text);

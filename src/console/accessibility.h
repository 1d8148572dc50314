// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Names and descriptions for screen readers on the main window's controls.

namespace Ui {
class FrmMain;
}

// Gives every control of the form an accessible name a listener understands
// and the status lights their state texts.  Tool tips stay the controls'
// descriptions.  Call once, after the form is set up.
void DescribeControls(Ui::FrmMain &form);

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the program's windows open: centred on their screen, at a client
// area given for a 96 dpi screen and scaled with the screen's logical DPI
// (its logical dots per inch / 96), and larger only where the minimum sizes
// of the window's controls need it.  Sizes are in the window system's
// device-independent pixels, so a screen scaled by its pixel ratio (200 %)
// shows the window at that scale too.  Some window managers place windows
// themselves and ignore the position asked for.

#include <QSize>

class QWidget;

// The main window's client area at 96 dpi (7830 x 6165 twips).
inline constexpr QSize MainWindowSize{522, 411};
// The address list editor's (3060 x 3795 twips).
inline constexpr QSize EditorWindowSize{204, 253};

// Sizes and centres a window that is not shown yet.
void PlaceWindow(QWidget &window, QSize clientAt96Dpi);

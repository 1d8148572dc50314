// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The program's icon, from PNG files made for given sizes.
//
// QIcon::addFile decodes every file at once; for the window icon's seven
// sizes that was a tenth of the start-up.  This icon decodes a file only
// when a pixmap of about its size is first asked for: the file of the
// smallest size at least as large as the one asked for (or the largest
// file), scaled down when it is larger, never scaled up.

#include <QIcon>
#include <QMap>
#include <QString>

// files maps an edge length in pixels to the file drawn for that size.
QIcon SizedIcon(const QMap<int, QString> &files);

// Names the application and gives every window the program's icon (the PNGs
// of the resource file, which the executable links): called once, right
// after the QApplication is made.
void DescribeApplication();

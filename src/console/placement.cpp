// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "placement.h"

#include <QScreen>
#include <QStyle>
#include <QWidget>

void PlaceWindow(QWidget &window, QSize clientAt96Dpi)
{
    // A window with a parent opens on its parent's screen.
    const QWidget *parent = window.parentWidget();
    QScreen *screen = parent ? parent->window()->screen() : window.screen();
    if (!screen)
        return;
    // The controls' minimum sizes depend on their fonts and style.
    window.ensurePolished();
    const qreal scale = screen->logicalDotsPerInch() / 96.0;
    const QSize size
        = QSize(qRound(clientAt96Dpi.width() * scale), qRound(clientAt96Dpi.height() * scale))
              .expandedTo(window.minimumSizeHint())
              .expandedTo(window.minimumSize());
    window.resize(size);
    window.move(
        QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, screen->availableGeometry())
            .topLeft());
}

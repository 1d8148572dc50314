// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "figureslabel.h"

#include <QEvent>

void FiguresLabel::checkLength() const
{
    if (text().size() == m_length)
        return;
    m_length = text().size();
    m_size = m_minimum = QSize();
    m_width = -1;
}

QSize FiguresLabel::sizeHint() const
{
    checkLength();
    if (!m_size.isValid())
        m_size = QLabel::sizeHint();
    return m_size;
}

QSize FiguresLabel::minimumSizeHint() const
{
    checkLength();
    if (!m_minimum.isValid())
        m_minimum = QLabel::minimumSizeHint();
    return m_minimum;
}

int FiguresLabel::heightForWidth(int width) const
{
    checkLength();
    if (width != m_width) {
        m_width = width;
        m_height = QLabel::heightForWidth(width);
    }
    return m_height;
}

void FiguresLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        m_length = -1;
    QLabel::changeEvent(event);
}

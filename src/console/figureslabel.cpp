// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "figureslabel.h"

#include <QEvent>
#include <QSignalBlocker>

#include <utility>

void FiguresLabel::checkLength() const
{
    if (text().size() == m_length)
        return;
    m_length = text().size();
    m_size = m_minimum = QSize();
    m_heights[0] = m_heights[1] = HeightForWidth();
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
    if (m_heights[1].width == width)
        std::swap(m_heights[0], m_heights[1]);
    else if (m_heights[0].width != width) {
        m_heights[1] = m_heights[0];
        m_heights[0] = {width, QLabel::heightForWidth(width)};
    }
    return m_heights[0].height;
}

void FiguresLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        m_length = -1;
    QLabel::changeEvent(event);
}

void FiguresLabel::paintEvent(QPaintEvent *event)
{
    // A selectable label keeps its text in a text control, which fills and
    // lays out its document only when the label is painted.  Laying out asks
    // the label for a repaint, and a repaint asked for during a paint comes
    // as a second paint of the same text.  Whenever the text is laid out
    // anew the whole label is being painted (a new text, a new size or font
    // mark all of it), so the control's requests made meanwhile are dropped.
    if (!m_textControl) {
        for (QObject *child : children()) {
            if (child->inherits("QWidgetTextControl"))
                m_textControl = child;
        }
    }
    const QSignalBlocker quiet(m_textControl.data());
    QLabel::paintEvent(event);
}

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// FiguresLabel: the probe's figures under the messages, a selectable,
// word-wrapped label whose text changes every second.
//
// A selectable label lays its text out for every size hint the layout asks
// for (three or four times per new text), which made the figures the
// largest cost of a window probing once a second.  The figures keep their
// shape from one second to the next, so the hints are kept while the text's
// length and the font stay the same, and the height for the last two widths
// asked for: a layout pass asks for two (the window's layout for the row, and
// the row's layout for the label), and a height computed anew lays the text
// out, which also paints the label a second time.
//
// A new text is laid out in the paint that shows it, and the layout asks
// for a repaint while it is painted, which came as a second paint of the
// same figures each second; the paint drops those requests (see
// paintEvent).

#include <QLabel>
#include <QPointer>

class FiguresLabel : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // The hints for texts of m_length characters; empty: not asked for yet.
    void checkLength() const;
    mutable qsizetype m_length = -1;
    mutable QSize m_size;
    mutable QSize m_minimum;
    struct HeightForWidth
    {
        int width = -1;
        int height = 0;
    };
    mutable HeightForWidth m_heights[2]; // the newest first
    QPointer<QObject> m_textControl;     // the label's own, for selecting the text
};

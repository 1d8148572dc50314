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
// length, the font and (for the height) the width stay the same.

#include <QLabel>

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

private:
    // The hints for texts of m_length characters; empty: not asked for yet.
    void checkLength() const;
    mutable qsizetype m_length = -1;
    mutable QSize m_size;
    mutable QSize m_minimum;
    mutable int m_width = -1;
    mutable int m_height = 0;
};

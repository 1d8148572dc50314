// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A small live plot of an AutoPing run: the last minute of judged queries,
// one column each, the newest at the right.  An answered query is a bar as
// high as its round trip on a scale whose top is the next "nice" value
// (1, 2 or 5 times a power of ten microseconds) at or above the highest round
// trip shown; a lost query is a cross and a late one a ring, both at the top
// of the column and each in a colour of its own, so they differ by shape as
// well as by colour.  Colours come from the palette (the bars are in the
// highlight colour), sizes from the font, so the plot reads under a dark
// palette and at any scale.
//
// For screen readers the plot is a chart named "AutoPing round trips" whose
// description tells the figures it shows; it changes at every update.
#include "probe/probefigures.h"

#include <QWidget>

class PingPlot : public QWidget
{
    Q_OBJECT
public:
    // One column as drawn: its outcome and, for an answered query, the bar's
    // height as a share of the plot's height (0 to 1).
    struct Mark
    {
        ProbeFigures::Outcome outcome = ProbeFigures::Outcome::Lost;
        double height = 0;
    };

    explicit PingPlot(QWidget *parent = nullptr);

    // Shows the run's history (a copy: call again at every tick) and tells
    // screen readers the new figures.
    void setStats(const ProbeFigures &stats);

    // What the plot draws, oldest first; the last mark is the rightmost column.
    QList<Mark> marks() const;
    // The top of the scale, in microseconds.
    qint64 ceilingUs() const { return m_ceilingUs; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    int scaleWidth() const;
    QString ceilingText() const;
    void describe();

    QList<ProbeFigures::Judged> m_history;
    qint64 m_ceilingUs = 1000;
};

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "pingplot.h"

#include "base/numbertext.h"
#include "describe.h"

#include <QAccessibleWidget>
#include <QEvent>
#include <QPainter>

#include <algorithm>

namespace {

using Outcome = ProbeFigures::Outcome;

QAccessibleInterface *plotAccessible(const QString &className, QObject *object)
{
    if (className != QLatin1String("PingPlot") || !object || !object->isWidgetType())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Chart);
}

// The smallest of 10, 20, 50, 100, 200, 500 ... microseconds that is at
// least us.
qint64 niceCeiling(qint64 us)
{
    for (qint64 decade = 10;; decade *= 10)
        for (const qint64 step : {1, 2, 5})
            if (step * decade >= us)
                return step * decade;
}

// Microseconds as milliseconds with as many decimals as the value needs
// (the scale's top is 1, 2 or 5 times a power of ten).
QString ms(qint64 us)
{
    return Milliseconds(double(us), us < 100 ? 2 : us < 1000 ? 1 : 0);
}

QString roundTrip(qint64 us)
{
    return Milliseconds(double(us), 2);
}

} // namespace

PingPlot::PingPlot(QWidget *parent) : QWidget(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(plotAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setAccessibleName(QStringLiteral("AutoPing round trips"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // The plot fills all of its area first: what is behind it need not be
    // painted again every second.
    setAttribute(Qt::WA_OpaquePaintEvent);
    describe();
}

void PingPlot::setStats(const ProbeFigures &stats)
{
    m_history = stats.history();
    qint64 highest = 0;
    for (const auto &judged : std::as_const(m_history))
        if (judged.outcome == Outcome::Answered)
            highest = std::max(highest, judged.rttUs);
    // With no round trip to show the scale stays at one millisecond.
    m_ceilingUs = highest > 0 ? niceCeiling(highest) : 1000;
    describe();
    update();
}

QList<PingPlot::Mark> PingPlot::marks() const
{
    QList<Mark> marks;
    marks.reserve(m_history.size());
    for (const auto &judged : m_history) {
        const double height = judged.outcome == Outcome::Answered
                                  ? std::min(1.0, double(judged.rttUs) / double(m_ceilingUs))
                                  : 0.0;
        marks.append({judged.outcome, height});
    }
    return marks;
}

void PingPlot::describe()
{
    if (m_history.isEmpty()) {
        Describe(*this, QStringLiteral("No query judged yet"));
        return;
    }
    int counts[3] = {};
    qint64 lowest = 0, highest = 0;
    bool anyAnswered = false;
    for (const auto &judged : std::as_const(m_history)) {
        ++counts[int(judged.outcome)];
        if (judged.outcome != Outcome::Answered)
            continue;
        lowest = anyAnswered ? std::min(lowest, judged.rttUs) : judged.rttUs;
        highest = std::max(highest, judged.rttUs);
        anyAnswered = true;
    }
    QString text = QStringLiteral("Last %1 queries: %2 answered, %3 late, %4 lost.")
                       .arg(m_history.size())
                       .arg(counts[int(Outcome::Answered)])
                       .arg(counts[int(Outcome::Late)])
                       .arg(counts[int(Outcome::Lost)]);
    if (anyAnswered)
        text += QStringLiteral(" Round trip %1 to %2.").arg(roundTrip(lowest), roundTrip(highest));
    const auto &newest = m_history.constLast();
    switch (newest.outcome) {
    case Outcome::Answered:
        text += QStringLiteral(" Newest answered in %1.").arg(roundTrip(newest.rttUs));
        break;
    case Outcome::Late: text += QStringLiteral(" Newest answered late."); break;
    case Outcome::Lost: text += QStringLiteral(" Newest lost."); break;
    }
    // Describe tells a listening screen reader of the change.
    Describe(*this, text);
}

int PingPlot::scaleWidth() const
{
    const QFontMetrics metrics = fontMetrics();
    return std::max(metrics.horizontalAdvance(QStringLiteral("0.05 ms")),
                    metrics.horizontalAdvance(ceilingText()))
           + metrics.averageCharWidth();
}

QString PingPlot::ceilingText() const
{
    return ms(m_ceilingUs);
}

QSize PingPlot::sizeHint() const
{
    // Columns a character wide, so a single cross or ring can be made out;
    // three lines of text high.
    const QFontMetrics metrics = fontMetrics();
    const int column = std::max(6, metrics.averageCharWidth());
    return {scaleWidth() + ProbeFigures::HistoryLength * column + 2, metrics.height() * 3 + 4};
}

QSize PingPlot::minimumSizeHint() const
{
    return {scaleWidth() + ProbeFigures::HistoryLength * 4 + 2, fontMetrics().height() * 2 + 4};
}

void PingPlot::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}

void PingPlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette &pal = palette();
    const QColor text = pal.color(QPalette::Text);
    const QColor base = pal.color(QPalette::Base);
    // Red and amber, lighter on a dark background so they keep their contrast.
    const bool dark = base.lightness() < 128;
    const QColor lostColour = dark ? QColor(255, 120, 110) : QColor(190, 30, 30);
    const QColor lateColour = dark ? QColor(255, 200, 80) : QColor(160, 100, 0);

    painter.fillRect(rect(), base);
    const QFontMetrics metrics = fontMetrics();
    const int scale = scaleWidth();
    const QRectF plot(scale, 1, width() - scale - 1, height() - 2);

    // The scale: its top and zero at the left, the base line under the columns.
    painter.setPen(text);
    painter.drawText(QRectF(0, 0, scale - metrics.averageCharWidth() / 2, metrics.height()),
                     Qt::AlignRight | Qt::AlignTop, ceilingText());
    painter.drawText(QRectF(0, height() - metrics.height(), scale - metrics.averageCharWidth() / 2,
                            metrics.height()),
                     Qt::AlignRight | Qt::AlignBottom, QStringLiteral("0"));
    QColor rule = text;
    rule.setAlphaF(0.4);
    painter.setPen(QPen(rule, 1));
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.drawLine(plot.topLeft(), plot.bottomLeft());

    const double column = plot.width() / ProbeFigures::HistoryLength;
    const double gap = column * 0.15;
    // Lost and late marks take the whole column: a cross or a ring at its top
    // over a faint band of the same colour, so a single one stands out.
    const double side = std::min(column, plot.height() / 2);
    const double stroke = std::max(1.5, side / 5);
    const QList<Mark> drawn = marks();
    const int first = ProbeFigures::HistoryLength - int(drawn.size());
    for (int i = 0; i < drawn.size(); ++i) {
        const double left = plot.left() + (first + i) * column;
        const Mark &mark = drawn[i];
        if (mark.outcome == Outcome::Answered) {
            // At least one pixel, so the shortest round trip still shows.
            const double height = std::max(1.0, mark.height * (plot.height() - 1));
            painter.fillRect(QRectF(left + gap, plot.bottom() - height, column - 2 * gap, height),
                             pal.color(QPalette::Highlight));
            continue;
        }
        const QColor colour = mark.outcome == Outcome::Lost ? lostColour : lateColour;
        QColor band = colour;
        band.setAlphaF(0.25);
        painter.fillRect(QRectF(left, plot.top(), column, plot.height()), band);
        const QRectF box(left + (column - side) / 2 + stroke / 2, plot.top() + stroke / 2,
                         side - stroke, side - stroke);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(colour, stroke, Qt::SolidLine, Qt::RoundCap));
        if (mark.outcome == Outcome::Lost) {
            painter.drawLine(box.topLeft(), box.bottomRight());
            painter.drawLine(box.topRight(), box.bottomLeft());
        } else {
            painter.drawEllipse(box);
        }
    }
}

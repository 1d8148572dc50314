// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "statuslight.h"

#include "describe.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QPainter>

namespace {

// Posted at low priority, it comes after the events already on their way,
// such as the socket's next one.
QEvent::Type repaintCheck()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

// The lamp as an indicator rather than a bare pane; its name and description
// come from the widget (accessibleName, accessibleDescription).
QAccessibleInterface *lightAccessible(const QString &className, QObject *object)
{
    if (className != QLatin1String("StatusLight") || !object || !object->isWidgetType())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Indicator);
}

} // namespace

QColor FromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

StatusLight::StatusLight(QWidget *parent) : QWidget(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(lightAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    describeState();
}

void StatusLight::setFillColor(quint32 bgr)
{
    if (bgr == m_bgr)
        return;
    m_bgr = bgr;
    describeState();
    // The lamp and the frames behind it are painted again only if the colour
    // still differs from the one shown once the events on their way are
    // handled: a send's "in progress" and "connected" follow each other.
    if (!m_repaintPosted) {
        m_repaintPosted = true;
        QCoreApplication::postEvent(this, new QEvent(repaintCheck()), Qt::LowEventPriority);
    }
    emit fillColorChanged(m_bgr);
}

bool StatusLight::event(QEvent *event)
{
    if (event->type() != repaintCheck())
        return QWidget::event(event);
    m_repaintPosted = false;
    if (m_bgr != m_shownBgr)
        update();
    return true;
}

void StatusLight::setStatusText(const QString &text)
{
    m_statusText = text;
    describeState();
}

void StatusLight::describeState()
{
    // Describe tells a listening screen reader of the change.
    Describe(*this, isLit() ? m_statusText : QStringLiteral("Off"));
}

void StatusLight::paintEvent(QPaintEvent *)
{
    m_shownBgr = m_bgr;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = qMin(width(), height()) - 2;
    // On pixel centres, so the one-pixel rim is drawn sharp, not smeared
    // over two pixels at half strength.
    const QRectF lamp((width() - side) / 2 + 0.5, (height() - side) / 2 + 0.5, side, side);
    // A rim halfway between the palette's text and background keeps a dark
    // lamp visible on light and dark palettes alike.
    const QColor text = palette().color(QPalette::WindowText);
    const QColor back = palette().color(QPalette::Window);
    const QColor rim((text.red() + back.red()) / 2, (text.green() + back.green()) / 2,
                     (text.blue() + back.blue()) / 2);
    painter.setPen(QPen(rim, 1));
    painter.setBrush(FromBgr(m_bgr));
    painter.drawEllipse(lamp);
}

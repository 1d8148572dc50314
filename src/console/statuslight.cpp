#include "statuslight.h"

#include <QAccessibleWidget>
#include <QPainter>

namespace {

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
    update();
    emit fillColorChanged(m_bgr);
}

void StatusLight::setStatusText(const QString &text)
{
    m_statusText = text;
    describeState();
}

void StatusLight::describeState()
{
    // setAccessibleDescription tells a listening screen reader of the change.
    setAccessibleDescription(isLit() ? m_statusText : QStringLiteral("Off"));
}

void StatusLight::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height()) - 2;
    const QRectF lamp((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    // A grey rim keeps a dark lamp visible on dark palettes too.
    painter.setPen(QPen(QColor(128, 128, 128), 1));
    painter.setBrush(FromBgr(m_bgr));
    painter.drawEllipse(lamp);
}

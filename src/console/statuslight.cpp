#include "statuslight.h"

#include <QPainter>

QColor FromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

StatusLight::StatusLight(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StatusLight::setFillColor(quint32 bgr)
{
    if (bgr == m_bgr)
        return;
    m_bgr = bgr;
    update();
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

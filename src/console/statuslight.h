// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// A status lamp: a round light filled with its colour when lit, dark (black)
// when off.  The colour is a 24-bit value in blue-green-red order
// (0x00BBGGRR), as the state display sets it: 0 is off.
//
// For screen readers the lamp is an indicator whose description tells its
// state: the status text given with setStatusText ("Status: connected") while
// it is lit, "Off" while it is dark.
//
// A TCP send lights "in progress" and then "connected" again, one event
// after the other, before the window is painted: the lamp is repainted only
// when the colour it shows has changed by the time its turn comes.
#include <QWidget>

class StatusLight : public QWidget
{
    Q_OBJECT
public:
    explicit StatusLight(QWidget *parent = nullptr);

    void setFillColor(quint32 bgr);
    bool isLit() const { return m_bgr != 0; }

    // What the lit lamp means, as a screen reader says it.
    QString statusText() const { return m_statusText; }
    void setStatusText(const QString &text);

    QSize sizeHint() const override { return {25, 17}; }

signals:
    // The lamp went on or off, or changed its colour.
    void fillColorChanged(quint32 bgr);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void describeState();

    quint32 m_bgr = 0;
    quint32 m_shownBgr = 0;       // the colour last painted
    bool m_repaintPosted = false; // a look whether to repaint is on its way
    QString m_statusText;
};

// 0x00BBGGRR to a colour.
QColor FromBgr(quint32 bgr);

#pragma once
// A status lamp: a round light filled with its colour when lit, dark (black)
// when off.  The colour is a 24-bit value in blue-green-red order
// (0x00BBGGRR), as the state display sets it: 0 is off.
#include <QWidget>

class StatusLight : public QWidget
{
    Q_OBJECT
public:
    explicit StatusLight(QWidget *parent = nullptr);

    quint32 FillColor() const { return m_bgr; }
    void setFillColor(quint32 bgr);
    bool isLit() const { return m_bgr != 0; }

    QSize sizeHint() const override { return {25, 17}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    quint32 m_bgr = 0;
};

// 0x00BBGGRR to a colour.
QColor FromBgr(quint32 bgr);

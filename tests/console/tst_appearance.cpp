// The main window under a dark palette and at any scale: the lights stand out
// from their frame whether lit or dark, the panes draw in the palette's
// colours, and every caption fits its control.
//
// With SELMARIN_SCREENSHOT_DIR set, the rendered window is also saved there
// (scripts/screenshots uses this for the dark-palette pictures, since Qt has
// no environment variable that selects a dark palette).

#include "console/frmmain.h"
#include "console/statuslight.h"
#include "support/fakes.h"
#include "support/loadedwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QStyleFactory>
#include <QtTest>

#include <cmath>

namespace {

QPalette darkPalette()
{
    const QColor window(53, 53, 53), base(35, 35, 35), text(240, 240, 240);
    QPalette p;
    const std::pair<QPalette::ColorRole, QColor> colours[] = {
        {QPalette::Window, window},        {QPalette::WindowText, text}, {QPalette::Base, base},
        {QPalette::AlternateBase, window}, {QPalette::ToolTipBase, base}, {QPalette::ToolTipText, text},
        {QPalette::Text, text},            {QPalette::Button, window},   {QPalette::ButtonText, text},
        {QPalette::Highlight, QColor(42, 130, 218)}, {QPalette::HighlightedText, base}};
    for (const auto &[role, colour] : colours)
        p.setColor(role, colour);
    for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(127, 127, 127));
    return p;
}

// WCAG contrast ratio.
double contrast(QColor a, QColor b)
{
    auto luminance = [](QColor c) {
        auto channel = [](int v) {
            const double s = v / 255.0;
            return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
    };
    const double la = luminance(a), lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

bool near(QColor a, QColor b)
{
    return qAbs(a.red() - b.red()) <= 8 && qAbs(a.green() - b.green()) <= 8 && qAbs(a.blue() - b.blue()) <= 8;
}

} // namespace

class TstAppearance : public QObject
{
    Q_OBJECT

    LoadedWindow m_loaded;
    FrmMain *m_window = nullptr;

    QImage render()
    {
        QCoreApplication::processEvents(); // pending layout
        return m_window->grab().toImage();
    }
    QColor pixelAt(const QImage &image, QWidget *widget, QPoint local) const
    {
        const QPoint at = widget->mapTo(m_window, local);
        const qreal dpr = image.devicePixelRatio();
        return image.pixelColor(int(at.x() * dpr), int(at.y() * dpr));
    }

private slots:
    void initTestCase()
    {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(darkPalette());
    }
    void init()
    {
        m_loaded.load();
        m_window = m_loaded.window.get();
        QVERIFY(m_window->isVisible());
    }
    void cleanup() { m_loaded.reset(); }

    void lightsStandOut_data()
    {
        QTest::addColumn<QString>("status");
        QTest::newRow("ok") << "ok";
        QTest::newRow("pending") << "pending";
        QTest::newRow("bad") << "bad";
    }
    // A lit lamp shows its colour; every lamp, lit or dark, has something
    // along its middle row that stands out 3:1 from the frame behind it.
    void lightsStandOut()
    {
        QFETCH(QString, status);
        m_window->ShowStatus(status);
        const QImage image = render();
        for (StatusLight *light : m_window->findChildren<StatusLight *>()) {
            const QPoint centre = light->rect().center();
            const QColor background = pixelAt(image, light, {0, 0});
            if (light->isLit())
                QVERIFY2(near(pixelAt(image, light, centre), FromBgr(light->FillColor())),
                         qPrintable(light->objectName()));
            double best = 0;
            for (int x = 0; x <= centre.x(); ++x)
                best = qMax(best, contrast(pixelAt(image, light, {x, centre.y()}), background));
            QVERIFY2(best >= 3.0, qPrintable(QStringLiteral("%1: %2:1").arg(light->objectName()).arg(best)));
        }
        const QString dir = qEnvironmentVariable("SELMARIN_SCREENSHOT_DIR");
        if (dir.isEmpty())
            return;
        m_window->AddToMsgsBox("Winsock", "Connected to 192.0.2.20:7000\r\n");
        const QImage shot = render();
        const int percent = qRound(shot.devicePixelRatio() * 100);
        const QString file = QDir(dir).filePath("main-dark-" + status
                                                + (percent == 100 ? QString() : QStringLiteral("-%1").arg(percent)) + ".png");
        QVERIFY2(shot.save(file), qPrintable(file));
    }

    // The panes (the send box enabled, as when connected) are drawn on the
    // palette's base colour, so the palette's text colour is readable on them.
    void panesUseThePalette()
    {
        m_window->AddToMsgsBox("Winsock", "Closed\r\n");
        m_window->findChild<QWidget *>("txtSend")->setEnabled(true);
        const QImage image = render();
        for (const char *name : {"txtMsgs", "txtSend"}) {
            QWidget *viewport = m_window->findChild<QPlainTextEdit *>(QLatin1String(name))->viewport();
            const QColor background = pixelAt(image, viewport, {viewport->width() - 4, viewport->height() - 4});
            const QColor text = viewport->palette().color(QPalette::Text);
            QVERIFY2(contrast(background, text) >= 4.5, qPrintable(QString::fromLatin1(name) + ": " + text.name()
                                                                  + " on " + background.name()));
        }
    }

    void captionsFit_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("idle") << false;
        QTest::newRow("server") << true;
    }
    void captionsFit()
    {
        QFETCH(bool, server);
        if (server)
            m_window->optMode_Click(1);
        render();
        for (QAbstractButton *button : m_window->findChildren<QAbstractButton *>()) {
            if (button->isVisible())
                QVERIFY2(button->width() >= button->minimumSizeHint().width(),
                         qPrintable(button->objectName() + " is too narrow for \"" + button->text() + '"'));
        }
    }
};

QTEST_MAIN(TstAppearance)
#include "tst_appearance.moc"

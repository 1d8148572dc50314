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
    QPalette p;
    const QColor window(53, 53, 53), base(35, 35, 35), text(240, 240, 240), muted(127, 127, 127);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, base);
    for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, muted);
    return p;
}

// WCAG relative luminance and contrast ratio.
double luminance(QColor c)
{
    auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

double contrast(QColor a, QColor b)
{
    const double la = luminance(a), lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

bool near(QColor a, QColor b)
{
    return qAbs(a.red() - b.red()) <= 8 && qAbs(a.green() - b.green()) <= 8
           && qAbs(a.blue() - b.blue()) <= 8;
}

} // namespace

class TstAppearance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void lightsStandOut_data();
    void lightsStandOut();
    void panesUseThePalette();
    void captionsFit_data();
    void captionsFit();

private:
    QImage render();
    QColor pixelAt(const QImage &image, QWidget *widget, QPoint local) const;
    void save(const QImage &image, const QString &name) const;

    LoadedWindow m_loaded;
    FrmMain *m_window = nullptr;
};

void TstAppearance::initTestCase()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(darkPalette());
}

void TstAppearance::init()
{
    m_loaded.load();
    m_window = m_loaded.window.get();
    QVERIFY(m_window->isVisible());
}

void TstAppearance::cleanup()
{
    m_loaded.reset();
    m_window = nullptr;
}

QImage TstAppearance::render()
{
    QCoreApplication::processEvents(); // pending layout
    return m_window->grab().toImage();
}

QColor TstAppearance::pixelAt(const QImage &image, QWidget *widget, QPoint local) const
{
    const QPoint at = widget->mapTo(m_window, local);
    const qreal dpr = image.devicePixelRatio();
    return image.pixelColor(int(at.x() * dpr), int(at.y() * dpr));
}

void TstAppearance::save(const QImage &image, const QString &name) const
{
    const QString dir = qEnvironmentVariable("SELMARIN_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    const int percent = qRound(image.devicePixelRatio() * 100);
    const QString file = QDir(dir).filePath(
        percent == 100 ? name + QStringLiteral(".png") : QStringLiteral("%1-%2.png").arg(name).arg(percent));
    QVERIFY2(image.save(file), qPrintable(file));
}

void TstAppearance::lightsStandOut_data()
{
    QTest::addColumn<QString>("status");
    QTest::newRow("ok") << QStringLiteral("ok");
    QTest::newRow("pending") << QStringLiteral("pending");
    QTest::newRow("bad") << QStringLiteral("bad");
}

void TstAppearance::lightsStandOut()
{
    // A lit lamp shows its colour; every lamp, lit or dark, has something
    // along its middle row that stands out 3:1 from the frame behind it.
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
    m_window->AddToMsgsBox(QStringLiteral("Winsock"), QStringLiteral("Connected to 192.0.2.20:7000\r\n"));
    save(render(), QStringLiteral("main-dark-") + status);
}

void TstAppearance::panesUseThePalette()
{
    // The panes are drawn on the palette's base colour, so the palette's text
    // colour is readable on them.
    m_window->AddToMsgsBox(QStringLiteral("Winsock"), QStringLiteral("Closed\r\n"));
    // The send box is disabled while idle; enabled, it must be as readable.
    m_window->findChild<QWidget *>(QStringLiteral("txtSend"))->setEnabled(true);
    const QImage image = render();
    for (const char *name : {"txtMsgs", "txtSend"}) {
        auto *pane = m_window->findChild<QPlainTextEdit *>(QLatin1String(name));
        QWidget *viewport = pane->viewport();
        const QColor background = pixelAt(image, viewport, {viewport->width() - 4, viewport->height() - 4});
        const QColor text = pane->palette().color(QPalette::Text);
        QVERIFY2(contrast(background, text) >= 4.5,
                 qPrintable(QStringLiteral("%1: %2 on %3").arg(QLatin1String(name), text.name(), background.name())));
    }
}

void TstAppearance::captionsFit_data()
{
    QTest::addColumn<QString>("status");
    QTest::newRow("idle") << QString();
    QTest::newRow("server") << QStringLiteral("server");
}

void TstAppearance::captionsFit()
{
    QFETCH(QString, status);
    if (status == QLatin1String("server"))
        m_window->optMode_Click(1);
    render();
    for (QAbstractButton *button : m_window->findChildren<QAbstractButton *>()) {
        if (!button->isVisible())
            continue;
        QVERIFY2(button->width() >= button->minimumSizeHint().width(),
                 qPrintable(QStringLiteral("%1 \"%2\" is %3 wide, needs %4")
                                .arg(button->objectName(), button->text())
                                .arg(button->width())
                                .arg(button->minimumSizeHint().width())));
    }
}

QTEST_MAIN(TstAppearance)
#include "tst_appearance.moc"

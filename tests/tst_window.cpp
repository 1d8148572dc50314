// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The main window as the user sees and reaches it: the idle layout of each
// mode, the keyboard, what a screen reader hears, and the lights, panes and
// captions on a dark palette (at any scale).
//
// With SELMARIN_SCREENSHOT_DIR set, the dark window is also saved there for
// each light (scripts/screenshots: Qt has no environment variable that
// selects a dark palette).

#include "fixture.h"

#include "console/frmmain.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyleFactory>

#include <cmath>

namespace {

QString accessible(QWidget *widget, QAccessible::Text what = QAccessible::Name)
{
    return QAccessible::queryAccessibleInterface(widget)->text(what);
}

// What a screen reader calls a control.  On Linux a combo box's name is its
// text, and what it is comes from its label (the frame around it).
QString heard(QWidget *widget)
{
    if (!qobject_cast<QComboBox *>(widget))
        return accessible(widget);
    const auto labels
        = QAccessible::queryAccessibleInterface(widget)->relations(QAccessible::Label);
    return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
}

// WCAG contrast ratio.
double contrast(QColor a, QColor b)
{
    const auto luminance = [](QColor c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF())
               + 0.0722 * channel(c.blueF());
    };
    return (std::max(luminance(a), luminance(b)) + 0.05)
           / (std::min(luminance(a), luminance(b)) + 0.05);
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<Program> p;

    bool enabled(const char *name) const { return p->control(name)->isEnabled(); }
    QColor pixel(const QImage &image, QWidget *widget, QPoint at) const
    {
        return image.pixelColor(widget->mapTo(p->window(), at) * image.devicePixelRatio());
    }

private slots:
    void initTestCase()
    {
        QApplication::setStyle(QStyleFactory::create("Fusion"));
        QApplication::setPalette(
            QPalette(QColor(53, 53, 53), QColor(53, 53, 53))); // dark, text and panes worked out
    }
    void init()
    {
        p = std::make_unique<Program>();
        QVERIFY(p->start());
    }
    void cleanup() { p.reset(); }

    // Reached from the other mode.  A protocol change keeps the pane (here
    // the start-up's line about the missing server list), a mode change
    // empties it.
    void idleLayout_data()
    {
        // protocol: TCP, UDP, TLS
        columns<bool, int, QString>("server", "protocol", "caption");
        dataRow("TCP client", false, 0, "&Connect");
        dataRow("UDP client", false, 1, "&Bind");
        dataRow("TLS client", false, 2, "&Connect");
        dataRow("TCP server", true, 0, "L&isten");
        dataRow("UDP server", true, 1, "&Bind");
        dataRow("TLS server", true, 2, "L&isten");
    }
    void idleLayout()
    {
        const auto [server, protocol] = fetched<bool, int>("server", "protocol");
        const bool udp = protocol == 1;
        p->click("optProtocol_" + QString::number(protocol));
        QVERIFY(!p->pane().isEmpty());
        p->click(server ? "optMode_0" : "optMode_1");
        p->set("txtLocPort", "8080");
        p->click(server ? "optMode_1" : "optMode_0");
        QVERIFY(p->pane().isEmpty());
        QTEST(p->text("cmdConnect"), "caption");
        QCOMPARE(heard(p->control("cmdConnect")), p->text("cmdConnect").remove(u'&'));
        QCOMPARE(p->window()->windowTitle(),
                 server ? "Selmarin in Server Mode" : "Selmarin in Client Mode");
        QCOMPARE(enabled("cboLocAddress"), server || udp);
        QCOMPARE(enabled("chkInsecure"), protocol == 2 && !server); // a TLS client's choice
        QCOMPARE(enabled("cboRemAddress") && enabled("txtRemPort"), !server);
        QCOMPARE(p->text("txtLocPort"), server ? "8080" : "0"); // a client's goes back to 0
        QVERIFY(enabled("fraMode") && enabled("fraProtocol") && enabled("txtLocPort"));
        QVERIFY(!enabled("cmdSend") && !enabled("txtSend") && !enabled("cmdAutoPing"));
        QVERIFY(p->control<QPushButton>("cmdConnect")->isDefault());
    }

    // Enter presses the default button from any control; Escape does nothing.
    void keyboard()
    {
        QTest::keyClick(p->control("cboRemAddress"), Qt::Key_Return);
        QTest::keyClick(p->control("txtRemPort"), Qt::Key_Enter);
        QCOMPARE(p->pane().count("++ PEBKAC:\tYou must select a remote server\r\n"), 2);
        QTest::keyClick(p->window(), Qt::Key_Escape);
        QVERIFY(p->window()->isVisible());
    }

    // Every control Tab reaches has a name (a field's says which end it
    // belongs to), and Tab follows the layout: top left, top right, the
    // pane, the bottom.
    void screenReaderAndTabOrder()
    {
        QStringList order;
        for (QWidget *w = p->control("optMode_0"); order.size() < 20; w = w->nextInFocusChain()) {
            if ((w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() && w->window() == p->window()
                && w->isVisibleTo(p->window())) {
                if (!order.isEmpty() && w->objectName() == order[0])
                    break;
                order << w->objectName();
                QVERIFY2(!heard(w).trimmed().isEmpty(), qPrintable(w->objectName()));
            }
        }
        QCOMPARE(order,
                 (QStringList{"optMode_0", "optMode_1", "optProtocol_0", "optProtocol_1",
                              "optProtocol_2", "cmdConnect", "cmdRemotes", "cboLocAddress",
                              "txtLocPort", "cboRemAddress", "txtRemPort", "chkInsecure", "txtMsgs",
                              "cmdSend", "txtSend", "chkEscapes", "cboLineEnd", "cmdAutoPing"}));
        for (const QString &name : order.mid(7, 4))
            QVERIFY2(heard(p->control(name)).startsWith(name.contains("Loc") ? "Local" : "Remote"),
                     qPrintable(name));
    }

    // The pane paints again only what a step changed (the lines it added,
    // the scroll bar when its slider moves): what the window shows must be
    // what painting all of it shows, however the lines come.
    void paneShowsWhatItHolds_data()
    {
        QTest::addColumn<QStringList>("steps");
        const QString line = "127.0.0.1:\t++ AutoPing Query ++\r\n";
        dataRow("a line a step", QStringList(30, line));
        dataRow("two lines a step", QStringList(15, line + line));
        dataRow("lines in pieces", QStringList{"You:\tone", " piece\r", "\ntwo\r\n"});
        dataRow("wider than the pane", QStringList(12, QString(150, u'w') + "\r\n"));
        dataRow("many lines a step", QStringList(3, line.repeated(12)));
    }
    void paneShowsWhatItHolds()
    {
        QFETCH(QStringList, steps);
        auto *window = static_cast<FrmMain *>(p->window());
        for (const QString &text : std::as_const(steps)) {
            window->showLine(LineKind::Report, "Test", text, text);
            QTest::qWait(50); // each its own step
        }
        QWidget *pane = p->control("txtMsgs");
        const QRect area(pane->mapTo(window, QPoint()), pane->size());
        const auto shown = [&] { // as painted, step by step
            return window->screen()
                ->grabWindow(window->winId(), area.x(), area.y(), area.width(), area.height())
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        };
        const auto whole
            = [&] { return window->grab(area).toImage().convertToFormat(QImage::Format_RGB32); };
        QTRY_COMPARE(shown(), whole());
    }

    // Each light as the window shows it (closed, listening, open): the lit
    // lamp in its colour, every lamp standing out 3:1 from its frame, the
    // panes in use readable, every caption fitting its button.
    void darkPalette_data()
    {
        columns<QString, QString, QString, QColor>("open", "status", "lamp", "colour");
        dataRow("bad", "", "Status: error", "shpError", QColor(255, 0, 0));
        dataRow("pending", "server tcp", "Status: in progress", "shpProg", QColor(255, 255, 0));
        dataRow("ok", "server udp", "Status: connected", "shpOk", QColor(0, 255, 0));
    }
    void darkPalette()
    {
        const auto [open, status, lamp, colour]
            = fetched<QString, QString, QString, QColor>("open", "status", "lamp", "colour");
        p->clearPane();
        if (!open.isEmpty())
            p->open(open, {"127.0.0.1", QString::number(freePort(open.endsWith("udp")))});
        QTRY_COMPARE(accessible(p->control("fraLights"), QAccessible::Description), status);
        QCoreApplication::processEvents();
        const QImage image = p->window()->grab().toImage();
        for (QString name : {"shpError", "shpProg", "shpOk"}) {
            QWidget *light = p->control(name);
            const QPoint centre = light->rect().center();
            QCOMPARE(accessible(light, QAccessible::Description), name == lamp ? status : "Off");
            const QColor shown = pixel(image, light, centre);
            if (name == lamp)
                QVERIFY2(std::abs(shown.hue() - colour.hue()) < 8 && shown.value() > 200,
                         qPrintable(shown.name()));
            double best = 0;
            for (int x = 0; x <= centre.x(); ++x)
                best = std::max(best, contrast(pixel(image, light, {x, centre.y()}),
                                               pixel(image, light, {0, 0})));
            QVERIFY2(best >= 3.0, qPrintable(name));
        }
        for (const char *name : {"txtMsgs", "txtSend"}) {
            QWidget *view = p->control<QPlainTextEdit>(name)->viewport();
            const QColor background = pixel(image, view, {view->width() - 4, view->height() - 4});
            QVERIFY2(!view->isEnabled()
                         || contrast(background, view->palette().color(QPalette::Text)) >= 4.5,
                     name);
        }
        for (QAbstractButton *button : p->window()->findChildren<QAbstractButton *>())
            QVERIFY2(!button->isVisible() || button->width() >= button->minimumSizeHint().width(),
                     qPrintable(button->text()));
        if (const QString dir = qEnvironmentVariable("SELMARIN_SCREENSHOT_DIR"); !dir.isEmpty()) {
            const int percent = qRound(image.devicePixelRatio() * 100);
            QVERIFY(image.save(QStringLiteral("%1/main-dark-%2%3.png")
                                   .arg(dir, QTest::currentDataTag(),
                                        percent == 100 ? "" : "-" + QString::number(percent))));
        }
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"

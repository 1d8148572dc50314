// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The test console end to end: the window driven as a user drives it against
// real peers on loopback, the AutoPing probe and the probe texts that arrive.
// Clients reach the peers as "localhost", since loopback addresses are
// refused as remote addresses.

#include "fixture.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int Wait = 5000; // ms, for anything that crosses loopback
const QString Query = "++ AutoPing Query ++";
const QString Response = "++ AutoPing Response ++";
const QString Here = "127.0.0.1:\t"; // the peer's lines, and the window's own (its local address)

} // namespace

class TestConsole : public QObject
{
    Q_OBJECT

    std::unique_ptr<Program> p;

    bool has(const QString &text) const { return p->pane().contains(text); }
    bool enabled(const char *name) const { return p->control(name)->isEnabled(); }
    QString lights() const
    {
        return QAccessible::queryAccessibleInterface(p->control("fraLights"))
            ->text(QAccessible::Description);
    }
    // A TCP client connected to a peer on loopback; the peer's end.
    QTcpSocket *connectClient(QTcpServer &peer)
    {
        peer.listen(QHostAddress::LocalHost);
        p->open("client tcp", {"", "", "localhost", QString::number(peer.serverPort())});
        const bool connected = QTest::qWaitFor(
            [&] { return peer.hasPendingConnections() && enabled("cmdSend"); }, Wait);
        return connected ? peer.nextPendingConnection() : nullptr;
    }

private slots:
    void init()
    {
        p = std::make_unique<Program>();
        QVERIFY(p->start());
        p->clearPane();
    }
    void cleanup() { p.reset(); }

    void tcpClientConnectsSendsReceivesAndSeesTheClose()
    {
        QTcpServer peer;
        QTcpSocket *s = connectClient(peer);
        QVERIFY(s);
        const QString port = QString::number(peer.serverPort());
        QCOMPARE(p->text("cmdConnect"), QStringLiteral("&Close"));
        QVERIFY(p->control<QPushButton>("cmdSend")->isDefault());
        QVERIFY(enabled("txtSend") && enabled("cmdAutoPing") && !enabled("fraMode")
                && !enabled("cboRemAddress"));
        QCOMPARE(p->text("cboRemAddress") + ' ' + p->text("txtRemPort"), "127.0.0.1 " + port);
        QCOMPARE(p->text("txtLocPort"), QString::number(s->peerPort()));
        QCOMPARE(lights(), QStringLiteral("Status: connected"));

        // Letters beyond ASCII, a no-break space and the line and paragraph
        // separators as typed, and a line broken with Ctrl+Enter: UTF-8 with
        // CR LF.
        QWidget *box = p->control("txtSend");
        QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown,
                            QStringLiteral("gr\u00fc\u00df \u20ac\u00a0\u2028\u2029"), {});
        QTest::keyClick(box, Qt::Key_Return, Qt::ControlModifier);
        QTest::keyClicks(box, "x");
        p->click("cmdSend");
        const QByteArray wire
            = "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\xC2\xA0\xE2\x80\xA8\xE2\x80\xA9\r\nx\r\n";
        QTRY_COMPARE_WITH_TIMEOUT(s->bytesAvailable(), qint64(wire.size()), Wait);
        QCOMPARE(s->readAll(), wire);
        QVERIFY(p->log().contains(Here + QString::fromUtf8(wire)) && p->text("txtSend").isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(lights(), QStringLiteral("Status: connected"), Wait); // sent

        s->close();
        QTRY_COMPARE_WITH_TIMEOUT(p->text("cmdConnect"), QStringLiteral("&Connect"), Wait);
        QVERIFY(enabled("fraMode") && !enabled("txtSend") && lights() == "Status: error");

        // A UDP client then shows the host its datagrams go to, not the
        // address of the connection before.
        p->open("client udp", {"", "", "server01", "7004"});
        QTRY_COMPARE_WITH_TIMEOUT(p->text("cmdConnect"), QStringLiteral("&Close"), Wait);
        QCOMPARE(p->text("cboRemAddress"), QStringLiteral("server01"));
    }

    // What the send box puts on the wire with escapes and each line end, and
    // the echo, shown as received bytes are; a malformed escape sends
    // nothing and the text stays to be mended.
    void sendExactBytes_data()
    {
        // typed: "\n": a line break in the box
        columns<QString, bool, int, QByteArray, QString>("typed", "escapes", "lineEnd", "wire",
                                                         "echo");
        dataRow("as typed, CR LF", "a\\x41\nb", false, 0, QByteArray("a\\x41\r\nb\r\n"),
                "a\\\\x41\r\nb\r\n");
        dataRow("escapes, LF", "\\x00\\xfF\\r\\t\\\\\nx", true, 1,
                QByteArray("\0\xFF\r\t\\\nx\n", 8), "\\x00\\xFF\r\t\\\\\nx\n");
        dataRow("CR", "x", false, 2, QByteArray("x\r"), "x\r");
        dataRow("none: lines joined by CR LF", "\\n\ny", true, 3, QByteArray("\n\r\ny"), "\n\r\ny");
        dataRow("refused", "ok\nab\\x4", true, 0, QByteArray(),
                "++ PEBKAC:\tNothing sent: at line 2, character 3, \"\\x4\" needs two hexadecimal "
                "digits\r\n");
    }
    void sendExactBytes()
    {
        const auto [typed, wire, echo, escapes, lineEnd]
            = fetched<QString, QByteArray, QString, bool, int>("typed", "wire", "echo", "escapes",
                                                               "lineEnd");
        QTcpServer peer;
        QTcpSocket *s = connectClient(peer);
        QVERIFY(s);
        p->clearPane();
        p->control<QAbstractButton>("chkEscapes")->setChecked(escapes);
        p->control<QComboBox>("cboLineEnd")->setCurrentIndex(lineEnd);
        p->set("txtSend", typed);
        p->click("cmdSend");
        QByteArray got;
        QTRY_COMPARE_WITH_TIMEOUT(got += s->readAll(), wire, Wait);
        // The log has the line exactly (the pane shows every line end as a break).
        QVERIFY(p->log().endsWith("\t" + (wire.isEmpty() ? echo : Here + echo)));
        QCOMPARE(p->text("txtSend"), wire.isEmpty() ? typed : QString());
    }

    // Input the window refuses, and opens that fail: these lines and nothing
    // else, and the window stays closed.  "%t"/"%u": a TCP/UDP port in use.
    void refusedOpen_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>(
            "boxes"); // local address, local port, remote host, remote port
        QTest::addColumn<QString>("lines");
        const QString remote = "++ PEBKAC:\tRemote port must be a number between 1 and 65535\r\n";
        const QString inUse
            = "** Error 0x2740:\tWinsock.Closed in frmMain.OpenIt; Address in use\r\n";
        dataRow("server without address or port", "server tcp", QStringList{"", "0", "", ""},
                "++ PEBKAC:\tA server needs a local address: choose one of this machine's "
                "addresses\r\n"
                "++ PEBKAC:\tLocal port must be a number between 1 and 65535\r\n");
        dataRow("remote port letters", "client tcp", QStringList{"", "", "server01", "8a"},
                "** Error 0xD:\t in frmMain.CheckPort; Type mismatch\r\n" + remote);
        dataRow("listen on a port in use", "server tcp", QStringList{"127.0.0.1", "%t", "", ""},
                inUse);
        dataRow("bind on a port in use", "server udp", QStringList{"127.0.0.1", "%u", "", ""},
                inUse);
        dataRow(
            "address not here", "server tcp", QStringList{"192.0.2.99", "7000", "", ""},
            "** Error 0x2741:\tWinsock.Closed in frmMain.OpenIt; Address not available from the "
            "local machine.\r\n");
        dataRow("client local port 99999", "client tcp",
                QStringList{"", "99999", "localhost", "80"},
                "** Error 0x17C:\tWinsock.Closed in frmMain.OpenIt; Invalid property value\r\n");
    }
    void refusedOpen()
    {
        auto [how, boxes] = fetched<QString, QStringList>("how", "boxes");
        QTcpServer tcp;
        QUdpSocket udp;
        QVERIFY(tcp.listen(QHostAddress::LocalHost) && udp.bind(QHostAddress::LocalHost));
        boxes.replaceInStrings("%t", QString::number(tcp.serverPort()))
            .replaceInStrings("%u", QString::number(udp.localPort()));
        p->open(how, boxes);
        QTEST(p->pane(), "lines");
        QVERIFY(p->text("cmdConnect") != "&Close");
    }

    // A refused connect: the socket's lines, then why, under "Diagnosis".
    // The pane's menu ends with "Diagnose the path" after a line; it
    // diagnoses the remote in the boxes while the window goes on.
    void whyItFailed()
    {
        const QString port = QString::number(freePort());
        p->open("client tcp", {"", "", "localhost", port});
        const QString why = "Diagnosis:\tRefused by the host: 127.0.0.1 answered TCP port " + port
                            + " with a reset: nothing listens there\r\n";
        QTRY_VERIFY_WITH_TIMEOUT(has("* Scode:\t0x800A274D\r\n" + why), Wait);
        auto *pane = qobject_cast<QPlainTextEdit *>(p->control("txtMsgs"));
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                                pane->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(pane->viewport(), &click);
        auto *menu = pane->findChild<QMenu *>();
        QVERIFY(menu && menu->actions().size() > 2);
        const QList<QAction *> entries = menu->actions();
        QAction *chosen = entries.at(entries.size() - 2)->isSeparator() ? entries.last() : nullptr;
        menu->close();
        QVERIFY(chosen && chosen->text() == "&Diagnose the path");
        chosen->trigger();
        QVERIFY(has("Diagnosis:\tDiagnosing the path to localhost port " + port + " (TCP)\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(p->pane().count(why), 2, Wait);
    }

    // Each tick sends the query bare, then reports if no answer came since
    // the tick before; the peer answers the first query only.  Closing the
    // window while it runs closes the connection and the log.
    void autoPingCountsTheAnswers()
    {
        QTcpServer peer;
        QTcpSocket *s = connectClient(peer);
        QVERIFY(s);
        p->clearPane();
        p->click("cmdAutoPing");
        QByteArray got;
        const auto queries = [&] {
            got += s->readAll();
            return got.count(Query.toUtf8());
        };
        QTRY_COMPARE_WITH_TIMEOUT(queries(), 1, Wait);
        s->write(Response.toUtf8());
        QTRY_COMPARE_WITH_TIMEOUT(queries(), 3, Wait);
        QCOMPARE(got, Query.toUtf8().repeated(3));
        const QString sent = Here + Query + "\r\n",
                      missed = "AutoPing:\tFailed to receive a response.\r\n";
        QTRY_COMPARE_WITH_TIMEOUT(
            p->pane(), sent + missed + Here + Response + "\r\n" + sent + sent + missed, Wait);
        p->window()->close();
        QVERIFY(s->state() == QAbstractSocket::UnconnectedState || s->waitForDisconnected(Wait));
        QVERIFY(p->log().endsWith("Selmarin, running on PC17; ended 12/4/2026 5:15:09 AM\r\n\r\n"));
    }

    // The figures under the pane, against a peer that answers the queries
    // after 30 ms, 250 ms, 1.2 s (late: after the next query's answer), 30
    // ms and never.  Round trips are checked below the next scripted delay
    // (a busy machine adds to them, a CI machine up to a few hundred ms); the
    // counts exactly.
    void autoPingFigures()
    {
        QTcpServer peer;
        QTcpSocket *s = connectClient(peer);
        QVERIFY(s && !p->control("lblFigures")->isVisible());
        int queries = 0;
        connect(s, &QTcpSocket::readyRead, s, [&] {
            for (int n = s->readAll().count(Query.toUtf8()); n > 0; --n) {
                const int delay = QList<int>{30, 250, 1200, 30, -1}.value(queries++, -1);
                if (delay >= 0)
                    QTimer::singleShot(delay, s, [s] { s->write(Response.toUtf8()); });
            }
        });
        p->click("cmdAutoPing");
        QTRY_VERIFY_WITH_TIMEOUT(p->text("lblFigures").contains(" 5 sent"), 8000);
        p->click("cmdAutoPing");
        const QRegularExpression figures(
            "^AutoPing 127.0.0.1:\\d+ \u2014 5 sent, 3 answered, 1 late, 1 lost \\(20.0 %\\), "
            "rtt ([0-9.]+) / [0-9.]+ / ([0-9.]+) / [0-9.]+ ms$");
        const QRegularExpressionMatch m = figures.match(p->text("lblFigures"));
        QVERIFY2(m.hasMatch(), qPrintable(p->text("lblFigures")));
        QVERIFY2(m.captured(1).toDouble() >= 30 && m.captured(1).toDouble() < 250
                     && m.captured(2).toDouble() >= 250 && m.captured(2).toDouble() < 1000,
                 qPrintable(p->text("lblFigures")));
        const QString plot = QAccessible::queryAccessibleInterface(p->control("plotRtt"))
                                 ->text(QAccessible::Description);
        QVERIFY2(plot.startsWith("Last 5 queries: 3 answered, 1 late, 1 lost.")
                     && plot.endsWith("Newest lost."),
                 qPrintable(plot));
        QVERIFY(!p->pane().contains("sent,") && p->control("lblFigures")->isVisible());
        // Its height follows a text that needs more lines.
        auto *label = p->control<QLabel>("lblFigures");
        const int height = label->heightForWidth(120);
        label->setText(label->text() + ' ' + label->text());
        QVERIFY(label->heightForWidth(120) > height);
    }
};

QTEST_MAIN(TestConsole)
#include "tst_console.moc"

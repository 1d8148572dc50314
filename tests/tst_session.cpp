// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The session, the core that the window and the command line both drive,
// with no window at all, against real peers on loopback: the lines it writes
// (the pane's and the log's) for each way a test goes.  New behaviour is
// specified here first; the window's tests then only prove that it shows it.

#include "fixture.h"
#include "session/escapes.h"
#include "session/session.h"
#include "socket/winsock.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QSslCertificate>

namespace {

constexpr int Wait = 5000; // ms, for anything that crosses loopback
const QString Query = "++ AutoPing Query ++";
const QString Response = "++ AutoPing Response ++";
const QString Here = "127.0.0.1:\t"; // the peer's lines, and the session's own

// The ends as the window's fields would give them.
Session::Config config(Session::Role role, Session::Transport transport,
                       const Session::Fields &ends)
{
    Session::Config config;
    config.role = role;
    config.transport = transport;
    config.ends
        = {ends.localAddress, ends.localPort.toInt(), ends.remoteAddress, ends.remotePort.toInt()};
    return config;
}

// openssl makes a CA, leaves it signs (good, expired and not yet valid ones
// for localhost, one for another host) and a self-signed certificate for localhost.
const char *MakeCertificates = R"(set -e
c="openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj"
$c "/CN=Test CA" -x509 -days 30 -keyout ca.key -out ca.pem
printf '[ca]\ndefault_ca=d\n[d]\ndatabase=idx\nnew_certs_dir=.\nserial=ser\ndefault_md=sha256
policy=p\ncopy_extensions=copy\nunique_subject=no\n[p]\ncommonName=supplied\n' >ca.cnf; : >idx; echo 01 >ser
leaf() { $c /CN=$2 -addext subjectAltName=DNS:$2 -keyout $1.key -out $1.csr
  openssl ca -batch -notext -config ca.cnf -cert ca.pem -keyfile ca.key -in $1.csr -out $1.pem $3; }
leaf good localhost "-days 30"
leaf expired localhost "-startdate 20200101000000Z -enddate 20210101000000Z"
leaf future localhost "-startdate 20400101000000Z -enddate 20410101000000Z"
leaf wrong other.example "-days 30"
$c /CN=localhost -addext subjectAltName=DNS:localhost -x509 -days 30 -keyout self.key -out self.pem)";

// Runs program with arguments in dir (its output merged); started.
bool run(QProcess &process, const QString &dir, const QString &program, const QStringList &args)
{
    process.setWorkingDirectory(dir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    return process.waitForStarted(Wait);
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

    std::unique_ptr<Program> p;
    Session *s = nullptr;

    bool has(const QString &text) const { return p->pane().contains(text); }
    // What arrived from the peer, as written: the lines without the state
    // lines and the label.
    QString received() const
    {
        return p->pane().remove(QRegularExpression("Winsock:\\t[^\\r]*\\r\\n")).remove(Here);
    }
    // A TCP client connected to a peer listening on loopback; the peer's end.
    QTcpSocket *connectClient(QTcpServer &peer)
    {
        peer.listen(QHostAddress::LocalHost);
        s->OpenIt(config(Session::Role::Client, Session::Transport::Tcp,
                         {"", "0", "localhost", QString::number(peer.serverPort())}));
        const bool up = QTest::qWaitFor(
            [&] { return peer.hasPendingConnections() && has("Winsock:\tConnected to "); }, Wait);
        return up ? peer.nextPendingConnection() : nullptr;
    }

    Session::Config tlsConfig(Session::Role role, const Session::Fields &ends,
                              const QString &folder)
    {
        Session::Config c = config(role, Session::Transport::Tls, ends);
        c.tls.folder = folder + u'/';
        return c;
    }

private slots:
    void init()
    {
        p = std::make_unique<Program>(Setup{.headless = true});
        s = &p->session();
    }
    void cleanup() { p.reset(); }

    // A client by name: each state once and in order, then sending, the
    // peer's data, and its close.
    void tcpClientGoesThroughItsStates()
    {
        QTcpServer peer;
        QTcpSocket *other = connectClient(peer);
        QVERIFY(other);
        const QString port = QString::number(peer.serverPort());
        // The Connect event and the state watch both follow the connect: the
        // order of their lines is not fixed.
        QTRY_VERIFY_WITH_TIMEOUT(has("Winsock:\tConnection completed\r\n"), Wait);
        QCOMPARE(p->pane().remove("Winsock:\tConnection completed\r\n")
                     + "Winsock:\tConnection completed\r\n",
                 "Winsock:\tResolving Host localhost\r\n"
                 "Winsock:\tHost Resolved localhost as 127.0.0.1\r\n"
                 "Winsock:\tConnecting to localhost:"
                     + port + "\r\nWinsock:\tConnected to 127.0.0.1:" + port
                     + "\r\nWinsock:\tConnection completed\r\n");
        QCOMPARE(s->view().group, StateGroup::Ready);
        QVERIFY(s->SendTyped({"hi"}, {}) && !s->Send(""));
        QByteArray got;
        QTRY_COMPARE_WITH_TIMEOUT(got += other->readAll(), QByteArray("hi\r\n"), Wait);
        other->write("yes\r\n");
        other->disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(
            p->pane().endsWith(Here + "hi\r\n" + Here + "yes\r\n" + "Winsock:\tClosed\r\n"), Wait);
        QVERIFY(s->SendTyped({"late"}, {})); // refused, not failed
        QVERIFY(p->pane().endsWith("++ PEBKAC:\tYou must establish a connection first.\r\n"));
    }

    void connectFails_data()
    {
        columns<QString, QString>("host", "lines");
        dataRow("refused", "localhost",
                "Winsock Error:\t10061\r\n* Description:\tConnection is forcefully rejected.\r\n"
                "* Scode:\t0x800A274D\r\n");
        // A name the resolver refuses without asking a name server.
        const QString name = QString(64, u'a') + ".example";
        dataRow("unknown name", name,
                "Winsock:\tResolving Host " + name
                    + "\r\nWinsock Error:\t11001\r\n"
                      "* Description:\tAuthoritative answer: Host not "
                      "found.\r\n* Scode:\t0x800A2AF9\r\n");
    }
    void connectFails()
    {
        const auto [host, lines] = fetched<QString, QString>("host", "lines");
        s->OpenIt(config(Session::Role::Client, Session::Transport::Tcp,
                         {"", "0", host, QString::number(freePort())}));
        QTRY_VERIFY_WITH_TIMEOUT(p->pane().endsWith(lines + "Winsock:\tClosed\r\n"), Wait);
        QCOMPARE(s->view().group, StateGroup::Idle);
    }

    // Ports on both sides of their range, for each end the user gives: what
    // is refused is said, what is accepted opens.
    void portBounds_data()
    {
        columns<bool, QString, QString>("server", "port", "lines");
        const QString local = "++ PEBKAC:\tLocal port must be a number between 1 and 65535\r\n";
        const QString remote = "++ PEBKAC:\tRemote port must be a number between 1 and 65535\r\n";
        dataRow("server 0", true, "0", local);
        dataRow("server 1", true, "1", "");
        dataRow("server 65535", true, "65535", "");
        dataRow("server 65536", true, "65536", local);
        dataRow("client 0", false, "0", remote);
        dataRow("client 65535", false, "65535", "");
        dataRow("client 65536", false, "65536", remote);
    }
    void portBounds()
    {
        const auto [server, port, lines]
            = fetched<bool, QString, QString>("server", "port", "lines");
        const auto role = server ? Session::Role::Server : Session::Role::Client;
        const Session::Fields ends{"127.0.0.1", port, "server01", port};
        QCOMPARE(s->CheckFields(role, ends), lines.isEmpty());
        QCOMPARE(p->pane(), lines);
        if (lines.isEmpty() && port != "1") { // port 1 needs root to bind
            s->OpenFields(config(role, Session::Transport::Udp, {}), ends);
            QCOMPARE(s->state(), SocketState::Open);
            QCOMPARE(s->view().localPort, server ? port.toInt() : s->view().localPort);
        }
    }

    // Bytes the peer writes (an empty write: it closes), and the text they
    // are shown as: nothing is lost, what cannot be shown is escaped byte by
    // byte, and a backslash doubled so the text reads back into the bytes.
    void receivedBytesBecomeText_data()
    {
        columns<QByteArrayList, QString>("writes", "text");
        dataRow("tab and line ends", QByteArrayList{"a\tb\r\nc\n"}, "a\tb\r\nc\n");
        dataRow("control characters", QByteArrayList{QByteArray("a\0b\x07\x1B[0m\x7F", 9)},
                "a\\x00b\\x07\\x1B[0m\\x7F");
        dataRow("backslash doubled", QByteArrayList{"C:\\temp\\x41"}, "C:\\\\temp\\\\x41");
        dataRow("UTF-8", QByteArrayList{"\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"},
                QStringLiteral("\u00fc\u20ac\U0001F600"));
        dataRow("C1 controls, up to U+009F, as their bytes",
                QByteArrayList{"\xC2\x80\xC2\x9F\xC2\xA0"},
                QStringLiteral("\\xC2\\x80\\xC2\\x9F\u00a0"));
        dataRow("not UTF-8",
                QByteArrayList{"caf\xE9 \x80 \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80 \xE2("},
                "caf\\xE9 \\x80 \\xC0\\xAF \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80 \\xE2(");
        dataRow("character split over two reads", QByteArrayList{"a\xE2", "\x82\xAC"},
                QStringLiteral("a\u20ac"));
        dataRow("tail never completed", QByteArrayList{"x\xE2\x82"}, "x\\xE2\\x82");
        dataRow("tail at the close", QByteArrayList{"y\xF0\x9F", ""}, "y\\xF0\\x9F");
        dataRow(
            "long runs",
            QByteArrayList{"aaaaaaaaaaaaaaaaaaa\tbbbbbbbbbbbbbbbbb\x01"
                           "ccccccccccccccccc\x7F"
                           "eeeeeeeeeeeeeeeee\\"
                           "ddddddddddddddddd\xC3\xBC!"},
            QStringLiteral("aaaaaaaaaaaaaaaaaaa\tbbbbbbbbbbbbbbbbb\\x01ccccccccccccccccc\\x7Feee"
                           "eeeeeeeeeeeeee\\\\ddddddddddddddddd\u00FC!"));
    }
    void receivedBytesBecomeText()
    {
        const auto [writes, text] = fetched<QByteArrayList, QString>("writes", "text");
        QTcpServer peer;
        QTcpSocket *other = connectClient(peer);
        QVERIFY(other);
        for (const QByteArray &bytes : writes) {
            if (bytes.isEmpty())
                other->disconnectFromHost();
            else
                other->write(bytes);
            other->flush();
        }
        QTRY_COMPARE_WITH_TIMEOUT(received(), text, Wait);
    }

    // A text typed with escapes on, and the bytes it is read into, or where
    // it is refused (position 0: read whole).
    void escapesReadBack_data()
    {
        columns<QString, QByteArray, int>("text", "bytes", "position");
        const auto row = [](const char *name, const QString &text, QByteArray bytes, int at) {
            QTest::newRow(name) << text << bytes << at;
        };
        row("UTF-8, a lone surrogate", QStringLiteral("\u00fc\U0001F600\xD800"),
            "\xC3\xBC\xF0\x9F\x98\x80\xEF\xBF\xBD", 0);
        row("letters", "\\r\\n\\t\\\\\\012", QByteArray::fromHex("0d0a095c003132"), 0);
        row("hex bounds", "\\x09\\xaf\\xAF\\x00\\xFFx", QByteArray::fromHex("09afaf00ff78"), 0);
        for (const char *outside : {"\\x/0", "\\x:0", "\\x0@", "\\x0G", "\\x`0", "\\xg0", "\\xZZ"})
            row(outside, outside, {}, 1);
        row("one hex digit", "\\x41\\x4", {}, 5);
        row("lone backslash", "\\\\\\", {}, 3);
        row("unknown escape", "a\\q", {}, 2);
        row("upper-case X", "\\X41", {}, 1);
        row("after non-BMP and escapes", QStringLiteral("\U0001F600\\x41\\t\\q"), {}, 8);
    }
    void escapesReadBack()
    {
        const auto [text, bytes, position]
            = fetched<QString, QByteArray, int>("text", "bytes", "position");
        const EscapedBytes read = ReadEscapes(text);
        QCOMPARE(read.bytes, bytes);
        QCOMPARE(int(read.position), position);
        QCOMPARE(read.error.isEmpty(), position == 0);
    }

    // Random bytes from a peer, shown, then the shown text sent back with
    // escapes on and no line end: the very bytes go back, in one datagram,
    // and the echo reads as the arrival did.  The session is a client on an
    // IPv4 address that names its peer: its first datagram goes to the
    // name's IPv4 address.
    void shownBytesGoBackExactly()
    {
        const quint16 port = freePort(true);
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress::LocalHost));
        s->OpenIt(config(
            Session::Role::Client, Session::Transport::Udp,
            {"127.0.0.1", QString::number(port), "localhost", QString::number(peer.localPort())}));
        QTRY_VERIFY_WITH_TIMEOUT(has("Winsock:\tOpen\r\n"), Wait);
        QVERIFY(s->SendTyped({"hi"}, {}));
        QTRY_VERIFY_WITH_TIMEOUT(peer.hasPendingDatagrams(), Wait);
        QCOMPARE(peer.receiveDatagram().data(), "hi\r\n");
        QRandomGenerator random(2026);
        for (int n = 0; n < 40; ++n) {
            QByteArray bytes(1 + random.bounded(48), Qt::Uninitialized);
            for (char &byte : bytes)
                byte = char(random.bounded(256));
            p->clearPane();
            peer.writeDatagram(bytes, QHostAddress::LocalHost, port);
            QTRY_VERIFY_WITH_TIMEOUT(p->pane().startsWith(Here), Wait);
            const QString shown = p->pane().mid(Here.size());
            QVERIFY(s->SendTyped({shown}, {true, Session::LineEnd::None}));
            QTRY_VERIFY_WITH_TIMEOUT(peer.hasPendingDatagrams(), Wait);
            QCOMPARE(peer.receiveDatagram().data(), bytes);
            QCOMPARE(p->pane(), Here + shown + Here + shown);
        }
    }

    // What a peer's piece of data makes the session do.  A server answers a
    // piece that is exactly the query, over TCP and UDP; a client never
    // answers.  The peer then sends the query once more (a server answers
    // it) and the session sends "end", so that whatever it answered has
    // arrived before it.
    void peerTexts_data()
    {
        columns<bool, bool, QString, QString, int>("server", "udp", "data", "shown", "answers");
        dataRow("query", true, false, Query, Query + "\r\n", 2);
        dataRow("query over UDP", true, true, Query, Query + "\r\n", 2);
        dataRow("twice in one piece", true, false, Query + Query, Query + Query, 1);
        dataRow("with a line end", true, false, Query + "\r\n", Query + "\r\n", 1);
        dataRow("other letter case", true, true, Query.toLower(), Query.toLower(), 1);
        dataRow("response", true, false, Response, Response + "\r\n", 1);
        dataRow("query to a client", false, false, Query, Query + "\r\n", 0);
    }
    void peerTexts()
    {
        const auto [server, udp, data, shown, answers] = fetched<bool, bool, QString, QString, int>(
            "server", "udp", "data", "shown", "answers");
        QTcpServer listener;
        QTcpSocket client, second;
        QUdpSocket datagrams;
        QIODevice *other = nullptr;
        if (server) {
            const quint16 port = freePort(udp);
            s->OpenIt(config(Session::Role::Server,
                             udp ? Session::Transport::Udp : Session::Transport::Tcp,
                             {"127.0.0.1", QString::number(port), {}, {}}));
            if (udp) {
                datagrams.connectToHost(QHostAddress::LocalHost, port);
                QVERIFY(datagrams.waitForConnected(Wait));
                other = &datagrams;
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(has("Winsock:\tListening\r\n"), Wait);
                client.connectToHost(QHostAddress::LocalHost, port);
                QTRY_VERIFY_WITH_TIMEOUT(has("Winsock:\tConnected to "), Wait);
                const QString from = "127.0.0.1:" + QString::number(client.localPort());
                QVERIFY(has("Winsock:\tAccepting TCP connection from " + from + " to 127.0.0.1:"
                            + QString::number(port) + "\r\nWinsock:\tConnected to " + from));
                QVERIFY(!s->view().canProbe); // servers answer, they do not probe
                // The listener gave way to the connection: nobody else gets in.
                second.connectToHost(QHostAddress::LocalHost, port);
                QTRY_COMPARE_WITH_TIMEOUT(second.error(), QAbstractSocket::ConnectionRefusedError,
                                          Wait);
                other = &client;
            }
        } else {
            other = connectClient(listener);
            QVERIFY(other);
        }
        p->clearPane();
        other->write(data.toUtf8());
        QTRY_VERIFY_WITH_TIMEOUT(has(Here + shown), Wait);
        QByteArray got;
        const auto read = [&] { return got += other->readAll(); };
        if (server) {
            other->write(Query.toUtf8());
            QTRY_COMPARE_WITH_TIMEOUT(read().count(Response.toUtf8()), answers, Wait);
        }
        s->Send("end");
        QTRY_VERIFY_WITH_TIMEOUT(read().endsWith("end"), Wait);
        QCOMPARE(got, Response.toUtf8().repeated(answers) + "end");
    }

    // A TLS client against openssl s_server showing each kind of
    // certificate: the lines an administrator checks, the data through, and
    // a certificate that does not verify refused with every reason (unless
    // the insecure choice accepts it).
    void tlsClient_data()
    {
        // how: the certificate; trusting the test CA; insecure
        columns<QString, QString>("how", "lines");
        const QString refused = "Certificate not verified: %1\r\nWinsock Error:\t-25505\r\n";
        dataRow("trusted", "good ca",
                "Handshake done: TLSv1.3, "
                "cipher TLS_AES_256_GCM_SHA384\r\nCertificate subject: CN=localhost\r\n"
                "Certificate issuer: CN=Test CA\r\nCertificate valid from %1\r\n"
                "Certificate alternative names: DNS:localhost\r\n"
                "Certificate SHA-256 fingerprint: %2\r\n"
                "Certificate verified: trusted issuer, valid dates, name localhost\r\n");
        dataRow("expired", "expired ca", refused.arg("The certificate has expired"));
        dataRow("not yet valid", "future ca", refused.arg("The certificate is not yet valid"));
        dataRow("wrong host", "wrong ca",
                refused.arg("The host name did not match any of the "
                            "valid hosts for this certificate"));
        dataRow("self-signed", "self",
                refused.arg("The certificate is self-signed, and untrusted"));
        dataRow("unknown issuer", "good",
                refused.arg("The issuer certificate of a locally "
                            "looked up certificate could not be found"
                            "\r\nCertificate not verified: No "
                            "certificates could be verified"));
        dataRow("insecure", "expired ca insecure",
                "Certificate not verified: The certificate has expired\r\n"
                "Going on without verification, as chosen (insecure)\r\n");
    }
    void tlsClient()
    {
        const auto [how, lines] = fetched<QString, QString>("how", "lines");
        const QString certificate = how.section(' ', 0, 0);
        const bool insecure = how.contains("insecure");
        QTemporaryDir dir;
        QProcess make, server, digest;
        QVERIFY(run(make, dir.path(), "sh", {"-c", MakeCertificates}) && make.waitForFinished());
        QCOMPARE(make.exitCode(), 0);
        const QString port = QString::number(freePort());
        QVERIFY(run(server, dir.path(), "openssl",
                    {"s_server", "-accept", "127.0.0.1:" + port, "-cert", certificate + ".pem",
                     "-key", certificate + ".key", "-naccept", "1"}));
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += server.readAll()).contains("ACCEPT"), Wait);
        Session::Config c = tlsConfig(Session::Role::Client, {"", "0", "localhost", port}, "");
        c.tls = {insecure, how.contains(" ca") ? dir.filePath("ca.pem") : "", {}, {}, {}};
        s->OpenIt(c);
        QCOMPARE(has("TLS:\tInsecure: a certificate that does not verify is accepted"), insecure);
        QTRY_VERIFY_WITH_TIMEOUT(
            s->state() == SocketState::Closed || has("Going on") || has("verified: trusted"), Wait);
        QVERIFY(run(digest, dir.path(), "openssl",
                    {"x509", "-noout", "-fingerprint", "-sha256", "-in", certificate + ".pem"}));
        QVERIFY(digest.waitForFinished());
        QVERIFY(has("Winsock:\tConnected to 127.0.0.1:" + port));
        // The state line of the failure and its error lines come in either
        // order (the state watch and the socket's event both follow it).
        const QString pane = p->pane()
                                 .remove(QRegularExpression("(Winsock|TLS):\t"))
                                 .replace("\r\nError\r\n", "\r\n");
        const QString from = QRegularExpression("valid from (.*)\r").match(pane).captured(1);
        QVERIFY2(
            pane.contains(lines.arg(from, QString(digest.readAll()).section('=', 1).trimmed())),
            qPrintable(pane));
        QCOMPARE(s->state() == SocketState::Closed, lines.contains("Error"));
        if (lines.contains("Error"))
            return;
        s->Send("through TLS");
        QTRY_VERIFY_WITH_TIMEOUT((said += server.readAll()).contains("through TLS"), Wait);
    }

    // The session as a TLS server, with the certificate it made on first
    // use, against curl and openssl s_client, which verify it: the request
    // shown, the answer delivered; the key is its owner's only and never in
    // the pane.
    void tlsServer_data()
    {
        columns<QString, QString>("command", "seen");
        QTest::newRow("curl") << "curl -sS --cacert @ https://localhost:%/"
                              << "GET / HTTP/1.1\r\n";
        dataRow("s_client",
                "openssl s_client -connect localhost:% -CAfile @ "
                "-verify_hostname localhost -verify_return_error",
                "hello\n");
    }
    void tlsServer()
    {
        auto [command, seen] = fetched<QString, QString>("command", "seen");
        QTemporaryDir dir;
        const QString port = QString::number(freePort());
        s->OpenIt(tlsConfig(Session::Role::Server, {"127.0.0.1", port, {}, {}}, dir.path()));
        QTRY_VERIFY_WITH_TIMEOUT(has("Winsock:\tListening\r\n"), Wait);
        QVERIFY(has("TLS:\tMade a self-signed certificate for this machine, valid for one year: "
                    + dir.filePath("tls-cert.pem")));
        QCOMPARE(int(QFile::permissions(dir.filePath("tls-key.pem"))), 0x6600); // rw owner only
        const auto made = QSslCertificate::fromPath(dir.filePath("tls-cert.pem")).value(0);
        QCOMPARE(made.effectiveDate().daysTo(made.expiryDate()), 365);
        QProcess client;
        QStringList args = command.replace("%", port).replace("@", "tls-cert.pem").split(' ');
        QVERIFY(run(client, dir.path(), args.takeFirst(), args));
        client.write(seen.toUtf8());
        QTRY_VERIFY_WITH_TIMEOUT(has(Here + seen), Wait);
        QVERIFY(has("TLS:\tOwn certificate SHA-256 fingerprint: ")
                && has("Handshake done: TLSv1.3"));
        s->Send("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nfine");
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += client.readAll()).contains("fine"), Wait);
        client.closeWriteChannel();
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QProcess::NotRunning, Wait);
        QCOMPARE(client.exitCode(), 0);
        QVERIFY(!p->pane().contains("PRIVATE KEY") && !p->log().contains("PRIVATE KEY"));
    }

    // A peer that never finishes a handshake, silent or speaking plain text,
    // to a TLS client and to a TLS server: a line with the reason and the
    // connection closed, within 10 s.
    void tlsHandshakeEnds_data()
    {
        columns<bool, QByteArray, QString>("server", "said", "line");
        const QString late = "TLS:\tFailed: The TLS handshake did not finish within 10 s\r\n";
        dataRow("silent server", false, QByteArray(), late);
        dataRow("plain-text server", false, QByteArray("220 hello\r\n"),
                "SSL routines::wrong version number\r\n");
        dataRow("silent client", true, QByteArray(), late);
        dataRow("plain-text client", true, QByteArray("GET / HTTP/1.0\r\n\r\n"),
                "SSL routines::http request\r\n");
    }
    void tlsHandshakeEnds()
    {
        const auto [server, said, line]
            = fetched<bool, QByteArray, QString>("server", "said", "line");
        QTemporaryDir dir;
        QTcpServer listener;
        QTcpSocket plain, *peer = &plain;
        const QString port = QString::number(freePort());
        if (server) {
            s->OpenIt(tlsConfig(Session::Role::Server, {"127.0.0.1", port, {}, {}}, dir.path()));
            plain.connectToHost(QHostAddress::LocalHost, port.toUShort());
        } else {
            listener.listen(QHostAddress::LocalHost, port.toUShort());
            s->OpenIt(tlsConfig(Session::Role::Client, {"", "0", "localhost", port}, dir.path()));
            QTRY_VERIFY_WITH_TIMEOUT(listener.hasPendingConnections(), Wait);
            peer = listener.nextPendingConnection();
        }
        peer->write(said);
        QTRY_VERIFY_WITH_TIMEOUT(has(server ? "Accepting TLS" : "Winsock:\tConnected to "), Wait);
        QTRY_VERIFY2_WITH_TIMEOUT(has(line), qPrintable(p->pane()), Winsock::TlsHandshakeMs + Wait);
        QTRY_VERIFY2_WITH_TIMEOUT(has("Winsock Error:\t-255"), qPrintable(p->pane()), Wait);
        QTRY_COMPARE_WITH_TIMEOUT(s->state(), SocketState::Closed, Wait);
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "commandline.h"

#include "metricsendpoint.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>

namespace {

const QString Usage = QStringLiteral(
    "Usage: selmarin                      open the window\n"
    "       selmarin respond --tcp|--udp|--tls --port N [--local ADDRESS]\n"
    "                        [--cert FILE --key FILE]\n"
    "       selmarin probe --tcp|--udp|--tls HOST PORT [-c N] [-i S] [-W S] [-w S] [-q]\n"
    "                      [-I ADDRESS] [--local-port P] [--keep-going] [--json]\n"
    "                      [--insecure] [--cacert FILE] [--cert FILE --key FILE]\n"
    "       selmarin probe --connect HOST PORT [the same options]\n"
    "       selmarin --help | --version\n"
    "\n"
    "respond  answers every AutoPing query on the port, as the window does in\n"
    "         server mode, also queries split or merged in a stream; a TCP\n"
    "         responder serves every client at once.  --local picks one of\n"
    "         this machine's addresses, IPv4 or IPv6 (default: all).\n"
    "probe    connects (TCP) or binds (UDP) to HOST PORT and sends an AutoPing\n"
    "         query at once and then every interval (HOST: a name, an IPv4\n"
    "         or an IPv6 address), with a line per answer; at the end, or on\n"
    "         Ctrl+C, it prints the round-trip summary.\n"
    "  -c, --count N        stop after N queries (each answered or timed out)\n"
    "  -i, --interval S     seconds between queries (default 1, at least 0.01)\n"
    "  -W, --timeout S      seconds an answer may take (default 2); later: late\n"
    "  -w, --deadline S     end the run after S seconds\n"
    "  -q, --quiet          print the summary only\n"
    "  -I, --source ADDRESS the local address to leave from\n"
    "  --keep-going         a lost connection is made again once per interval;\n"
    "                       the queries meanwhile count as lost\n"
    "  --connect            each query is a new TCP connection to any server,\n"
    "                       timed until it is made (--tls: and its handshake done)\n"
    "  --json               the summary as one JSON document, nothing else on\n"
    "                       standard output\n"
    "  --targets FILE       more targets, a HOST PORT pair per line (# comments)\n"
    "  --servers PORT       the saved server list's hosts as targets, on PORT\n"
    "  --metrics ADDRESS:PORT  (probe and respond) the figures for Prometheus at\n"
    "                       http://ADDRESS:PORT/metrics; a probe that has ended\n"
    "                       keeps serving its final figures until it is stopped\n"
    "         Exit status: 0 when every query was answered, 1 when some were\n"
    "         not, 2 for a refused address, a socket failure, a peer that\n"
    "         closed or reset the connection, or a usage error.\n"
    "--tls    TLS over TCP.  probe verifies the server's certificate against the\n"
    "         system's trust store (--cacert: the certificates in FILE instead)\n"
    "         and refuses one that does not verify unless --insecure; respond\n"
    "         shows tls-cert.pem and tls-key.pem from the program folder, made\n"
    "         self-signed on first use, or --cert and --key.\n"
    "\n"
    "Both print what the window's messages pane would show, one line each, and\n"
    "write the same daily log (see PROGRAMFILES and COMPUTERNAME).\n");

Command usageError(const QString &error)
{
    Command command;
    command.kind = Command::Usage;
    command.error = error;
    return command;
}

bool isOurs(const QString &argument)
{
    return !argument.startsWith(u'-')
           || QStringList{QStringLiteral("--help"), QStringLiteral("-h"),
                          QStringLiteral("--version"), QStringLiteral("-v")}
                  .contains(argument);
}

// Seconds as milliseconds; -1 when the text is no number of them.
int milliseconds(const QString &text)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    return ok && seconds >= 0 && seconds <= 2'000'000 ? int(seconds * 1000 + 0.5) : -1;
}

// A whole number from 1 to 65535, or nothing.
bool isPort(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= 1 && value <= 65535;
}

} // namespace

QString UsageText()
{
    return Usage;
}

Command ParseCommandLine(const QStringList &arguments)
{
    if (arguments.size() < 2 || !isOurs(arguments.at(1)))
        return {};

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, {});
    const QCommandLineOption tcp(QStringLiteral("tcp"), {});
    const QCommandLineOption udp(QStringLiteral("udp"), {});
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("N"));
    const QCommandLineOption local(QStringLiteral("local"), {}, QStringLiteral("ADDRESS"));
    const QCommandLineOption count({QStringLiteral("c"), QStringLiteral("count")}, {},
                                   QStringLiteral("N"));
    const QCommandLineOption interval({QStringLiteral("i"), QStringLiteral("interval")}, {},
                                      QStringLiteral("S"));
    const QCommandLineOption timeout({QStringLiteral("W"), QStringLiteral("timeout")}, {},
                                     QStringLiteral("S"));
    const QCommandLineOption deadline({QStringLiteral("w"), QStringLiteral("deadline")}, {},
                                      QStringLiteral("S"));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")}, {});
    const QCommandLineOption source({QStringLiteral("I"), QStringLiteral("source")}, {},
                                    QStringLiteral("ADDRESS"));
    const QCommandLineOption keepGoing(QStringLiteral("keep-going"), {});
    const QCommandLineOption connectOnly(QStringLiteral("connect"), {});
    const QCommandLineOption json(QStringLiteral("json"), {});
    const QCommandLineOption targetsFile(QStringLiteral("targets"), {}, QStringLiteral("FILE"));
    const QCommandLineOption servers(QStringLiteral("servers"), {}, QStringLiteral("PORT"));
    const QCommandLineOption metrics(QStringLiteral("metrics"), {}, QStringLiteral("ADDRESS:PORT"));
    const QCommandLineOption localPort(QStringLiteral("local-port"), {}, QStringLiteral("P"));
    const QCommandLineOption tls(QStringLiteral("tls"), {});
    const QCommandLineOption insecure(QStringLiteral("insecure"), {});
    const QCommandLineOption cacert(QStringLiteral("cacert"), {}, QStringLiteral("FILE"));
    const QCommandLineOption cert(QStringLiteral("cert"), {}, QStringLiteral("FILE"));
    const QCommandLineOption key(QStringLiteral("key"), {}, QStringLiteral("FILE"));
    parser.addOptions({help,      version,     tcp,     udp,         port,    local,
                       count,     interval,    timeout, deadline,    quiet,   source,
                       keepGoing, connectOnly, json,    localPort,   tls,     insecure,
                       cacert,    cert,        key,     targetsFile, servers, metrics});
    if (!parser.parse(arguments))
        return usageError(parser.errorText());

    Command command;
    if (parser.isSet(help))
        command.kind = Command::Help;
    else if (parser.isSet(version))
        command.kind = Command::Version;
    if (command.kind != Command::Window)
        return command;

    QStringList words = parser.positionalArguments();
    const QString verb = words.isEmpty() ? QString() : words.takeFirst();
    if (verb == QLatin1String("respond"))
        command.kind = Command::Respond;
    else if (verb == QLatin1String("probe"))
        command.kind = Command::Probe;
    else
        return usageError(QStringLiteral("Unknown command \"%1\"; try --help.").arg(verb));

    command.connectOnly = parser.isSet(connectOnly);
    const int protocols = int(parser.isSet(tcp)) + int(parser.isSet(udp)) + int(parser.isSet(tls));
    if (command.connectOnly ? parser.isSet(udp) : protocols != 1)
        return usageError(command.connectOnly
                              ? QStringLiteral("--connect makes TCP connections: no --udp.")
                              : QStringLiteral("Choose one protocol: --tcp, --udp or --tls."));
    command.tcp = !parser.isSet(udp);
    command.tls = parser.isSet(tls);

    const auto onlyFor = [&](const QCommandLineOption &option, Command::Kind kind) {
        return !parser.isSet(option) || command.kind == kind;
    };
    if (!onlyFor(port, Command::Respond) || !onlyFor(local, Command::Respond))
        return usageError(
            QStringLiteral("--port and --local are for respond; probe takes HOST PORT."));
    for (const QCommandLineOption *option :
         {&count, &interval, &timeout, &deadline, &quiet, &source, &keepGoing, &connectOnly,
          &localPort, &targetsFile, &servers, &json}) {
        if (!onlyFor(*option, Command::Probe))
            return usageError(QStringLiteral("--%1 is for probe.").arg(option->names().last()));
    }
    // TLS: curl's options.
    if (!command.tls
        && (parser.isSet(insecure) || parser.isSet(cacert) || parser.isSet(cert)
            || parser.isSet(key)))
        return usageError(QStringLiteral("--insecure, --cacert, --cert and --key are for --tls."));
    if (!onlyFor(insecure, Command::Probe) || !onlyFor(cacert, Command::Probe))
        return usageError(QStringLiteral("--insecure and --cacert are for probe."));
    if (parser.isSet(key) && !parser.isSet(cert))
        return usageError(QStringLiteral("--key needs --cert."));
    command.insecure = parser.isSet(insecure);
    command.cacert = parser.value(cacert);
    command.cert = parser.value(cert);
    command.key = parser.value(key);
    command.metrics = parser.value(metrics);
    if (parser.isSet(metrics) && !IsMetricsAddress(command.metrics))
        return usageError(QStringLiteral("--metrics needs ADDRESS:PORT, e.g. 127.0.0.1:9464."));

    if (command.kind == Command::Respond) {
        if (!words.isEmpty())
            return usageError(QStringLiteral("respond takes no HOST or PORT; use --port."));
        command.port = parser.value(port);
        if (!isPort(command.port))
            return usageError(QStringLiteral("respond needs --port N, N from 1 to 65535."));
        command.local = parser.isSet(local) ? parser.value(local) : QStringLiteral("::");
        return command;
    }

    // The targets: HOST PORT pairs, a file of them, or the saved server list
    // on one port (its entries are added by the program, which reads it).
    if (parser.isSet(targetsFile)) {
        QFile file(parser.value(targetsFile));
        if (!file.open(QIODevice::ReadOnly))
            return usageError(
                QStringLiteral("Cannot read the targets file %1.").arg(file.fileName()));
        int line = 0;
        for (const QByteArray &raw : file.readAll().split('\n')) {
            ++line;
            const QStringList pair = QString::fromUtf8(raw)
                                         .section(u'#', 0, 0)
                                         .simplified()
                                         .split(u' ', Qt::SkipEmptyParts);
            if (pair.isEmpty())
                continue;
            if (pair.size() != 2)
                return usageError(QStringLiteral("%1, line %2: HOST PORT expected.")
                                      .arg(file.fileName())
                                      .arg(line));
            words << pair;
        }
    }
    if (parser.isSet(servers)) {
        command.serversPort = parser.value(servers);
        if (!isPort(command.serversPort))
            return usageError(QStringLiteral("--servers needs a PORT from 1 to 65535."));
    }
    if ((words.isEmpty() && !parser.isSet(servers)) || words.size() % 2 != 0)
        return usageError(QStringLiteral("probe needs HOST and PORT (one pair per target)."));
    for (qsizetype i = 0; i + 1 < words.size(); i += 2) {
        if (!isPort(words.at(i + 1)))
            return usageError(QStringLiteral("PORT must be a number from 1 to 65535."));
        if (command.targets.contains({words.at(i), words.at(i + 1)}))
            return usageError(
                QStringLiteral("%1 %2 is given twice.").arg(words.at(i), words.at(i + 1)));
        command.targets.append({words.at(i), words.at(i + 1)});
    }
    if (!command.targets.isEmpty()) {
        command.host = command.targets.first().first;
        command.port = command.targets.first().second;
    }
    if (parser.isSet(count)) {
        bool ok = false;
        command.count = parser.value(count).toInt(&ok);
        if (!ok || command.count < 1)
            return usageError(QStringLiteral("--count needs a number of at least 1."));
    }
    if (parser.isSet(interval)) {
        command.intervalMs = milliseconds(parser.value(interval));
        if (command.intervalMs < 10)
            return usageError(QStringLiteral("--interval needs seconds, at least 0.01."));
    }
    if (parser.isSet(timeout)) {
        command.timeoutMs = milliseconds(parser.value(timeout));
        if (command.timeoutMs < 1)
            return usageError(QStringLiteral("--timeout needs seconds, more than 0."));
    }
    if (parser.isSet(deadline)) {
        command.deadlineMs = milliseconds(parser.value(deadline));
        if (command.deadlineMs < 1)
            return usageError(QStringLiteral("--deadline needs seconds, more than 0."));
    }
    command.quiet = parser.isSet(quiet);
    command.keepGoing = parser.isSet(keepGoing);
    command.json = parser.isSet(json);
    command.source = parser.value(source);
    if (parser.isSet(localPort)) {
        command.localPort = parser.value(localPort);
        bool ok = false;
        const int value = command.localPort.toInt(&ok);
        if (!ok || value < 0 || value > 65535)
            return usageError(QStringLiteral("--local-port must be a number from 0 to 65535."));
        if (value != 0 && (command.targets.size() != 1 || command.connectOnly))
            return usageError(QStringLiteral("--local-port is for one target, not --connect."));
    }
    if (command.keepGoing && command.connectOnly)
        return usageError(QStringLiteral("--keep-going has no connection to keep with --connect."));
    return command;
}

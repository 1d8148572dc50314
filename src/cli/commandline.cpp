// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "commandline.h"

#include "optionwords.h"

#include "metricsendpoint.h"

#include "probe/probetexts.h"
#include "stamp/stampwire.h"
#include "udp/packetinfo.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

const QString Usage = QStringLiteral(
    "Usage: selmarin                      open the window\n"
    "       selmarin respond --tcp|--udp|--tls --port N [--local ADDRESS]\n"
    "                        [--cert FILE --key FILE] [--metrics ADDRESS:PORT]\n"
    "                        [--tos TOS]\n"
    "       selmarin respond --stamp [--port N] [--local ADDRESS]\n"
    "                        [--metrics ADDRESS:PORT]\n"
    "       (either respond also takes [--allow CIDR[,CIDR...]]\n"
    "                        [--budget-per-source R[/B]] [--budget R[/B]])\n"
    "       selmarin probe --tcp|--udp|--tls HOST PORT [HOST PORT ...] [-c N] [-i S]\n"
    "                      [-W S] [-w S] [-q] [-I ADDRESS] [--local-port P]\n"
    "                      [--keep-going] [--require-token] [--json | --json-stream]\n"
    "                      [--targets FILE]\n"
    "                      [--servers PORT]\n"
    "                      [--metrics ADDRESS:PORT] [--insecure] [--cacert FILE]\n"
    "                      [--cert FILE --key FILE] [-4|-6] [-Q TOS] [-s SIZE]\n"
    "       selmarin probe --connect HOST PORT [the same options]\n"
    "       selmarin probe --stamp HOST [PORT] [HOST [PORT] ...] [the same options]\n"
    "       selmarin load --udp|--tcp|--tls HOST PORT [--rate R] [--size B]\n"
    "                     [-t S | -c N] [--burst N] [--warmup S] [-q] [--json]\n"
    "       selmarin diagnose [--tcp|--udp|--tls] HOST PORT [--json] [--hops] [-W S]\n"
    "                         [--max-hops N] [-I ADDRESS] [--insecure] [--cacert FILE]\n"
    "                         [-4|-6]\n"
    "       selmarin probe|respond --config FILE [options] [--print-config]\n"
    "       selmarin check-config FILE\n"
    "       selmarin --help | --version\n"
    "\n"
    "respond  answers every AutoPing query on the port, as the window does in\n"
    "         server mode, also queries split or merged in a stream; a TCP\n"
    "         responder serves every client at once.  --local picks one of\n"
    "         this machine's addresses, IPv4 or IPv6 (default: all).\n"
    "  --stamp              reflect the test packets of the standard two-way\n"
    "                       measurement (STAMP, and TWAMP-Light senders) on UDP\n"
    "                       port N (default 862; under 1024 needs root or\n"
    "                       CAP_NET_BIND_SERVICE), with a sequence number of its\n"
    "                       own per sender and the time stamps of its arrival\n"
    "                       and its answer\n"
    "  --tos TOS            (--tcp, --tls) the TOS byte of the answers; a UDP\n"
    "                       responder answers each query with the TOS byte it\n"
    "                       came with\n"
    "  --allow CIDR[,CIDR...]  answer only these addresses (192.0.2.0/24,\n"
    "                       2001:db8::/32; a bare address is itself; repeatable);\n"
    "                       others are not answered, a connection from them is\n"
    "                       closed at once, and they are counted in a line a\n"
    "                       minute (default: every address)\n"
    "  --budget-per-source R[/B]  answers a second to one address, B at once\n"
    "                       (default 2000/4000: a probe of 1,000 targets at a\n"
    "                       query a second is half of it); beyond it a query\n"
    "                       is not answered, and counted\n"
    "  --budget R[/B]       answers a second in all (default 20000/40000)\n"
    "                       Never answered: port 0, broadcast and multicast\n"
    "                       sources; a forged flood gets at most the budgets.\n"
    "probe    connects (TCP) or binds (UDP) to HOST PORT and sends an AutoPing\n"
    "         query at once and then every interval (HOST: a name, an IPv4\n"
    "         or an IPv6 address), with a line per query; at the end, or on\n"
    "         Ctrl+C, it prints the round-trip summary.\n"
    "  -c, --count N        stop after N queries (each answered or timed out)\n"
    "  -i, --interval S     seconds between queries (default 1, at least 0.01)\n"
    "  -W, --timeout S      seconds an answer may take (default 2); later: late,\n"
    "                       and after twice as long: lost\n"
    "  -w, --deadline S     end the run after S seconds\n"
    "  -q, --quiet          print the summary only\n"
    "  -I, --source ADDRESS|NAME  the local address to leave from, or the\n"
    "                       interface (by its name) that every packet must leave by\n"
    "  -4, -6               a name's IPv4 (IPv6) addresses only (by default IPv4\n"
    "                       is tried first); an address of the other family is\n"
    "                       refused\n"
    "  -Q, --tos TOS        the TOS byte of every query, 0 to 255 or 0x00 to 0xff\n"
    "                       (the traffic class over IPv6); DSCP d is TOS d<<2,\n"
    "                       e.g. EF (46) is -Q 184 or -Q 0xb8\n"
    "  -s, --size SIZE      every query SIZE bytes (the UDP payload; the bytes of\n"
    "                       each query on a stream), padded, answered in kind by\n"
    "                       a responder of this program: from 26 (TCP, TLS) or 56\n"
    "                       (UDP) to 65535 (TCP, TLS), 65507 (UDP) or 65527 (UDP\n"
    "                       with -6).  The window in server mode answers only\n"
    "                       bare queries: over UDP it is sent those, over TCP\n"
    "                       padded ones go unanswered.  Over UDP the numbered\n"
    "                       queries carry a random token of the target that a\n"
    "                       responder echoes; an answer without it is foreign.\n"
    "                       A far end that answers plainly (a window) is said\n"
    "                       once to be one whose answers cannot be told from\n"
    "                       forged ones; one that echoed it never is\n"
    "  --require-token      the far end is a responder of this program: every\n"
    "                       query numbered with the token (over TCP and TLS\n"
    "                       padded to at least 56 bytes), and an answer without\n"
    "                       it foreign from the first on (no window)\n"
    "  --keep-going         a target that cannot be reached, or whose\n"
    "                       connection ended, is tried again every interval;\n"
    "                       the queries meanwhile count as lost (always so\n"
    "                       with several targets or --metrics)\n"
    "  --connect            each query is a new TCP connection to any server,\n"
    "                       timed until it is made (--tls: and its handshake done)\n"
    "  --stamp              each query is a test packet of the standard two-way\n"
    "                       measurement to the reflector at HOST PORT (default\n"
    "                       862); the summary adds the round trip less the\n"
    "                       reflector's time, the loss of each direction, the\n"
    "                       TTL the reflector saw, and the one-way delays when\n"
    "                       both clocks say they are synchronized\n"
    "  --json               the summary as one JSON document, nothing else on\n"
    "                       standard output\n"
    "  --json-stream        a JSON object per line on standard output as each\n"
    "                       query ends, each minute, each change of state and\n"
    "                       at the end; the lines go to standard error\n"
    "  --every-query        (probe and respond) a line for every query and answer;\n"
    "                       without it a responder, and a probe of several\n"
    "                       targets, write a line a minute per client or target\n"
    "  --targets FILE       more targets, a HOST PORT pair per line (# comments)\n"
    "  --servers PORT       the saved server list's hosts as targets, on PORT\n"
    "  --metrics ADDRESS:PORT  (probe and respond) the figures for Prometheus at\n"
    "                       http://ADDRESS:PORT/metrics; a probe that has ended\n"
    "                       keeps serving its final figures until it is stopped\n"
    "  --config FILE        (probe and respond) the targets, or the responder's\n"
    "                       ports, and the metrics address from a YAML file; the\n"
    "                       options given beside it replace the file's defaults\n"
    "                       (a target's own settings still win) and its metrics\n"
    "                       address; SIGHUP reads the file again\n"
    "  --print-config       print the configuration the options make, as a file\n"
    "                       for --config, and end\n"
    "  --web-config FILE    (with --metrics) the endpoint's TLS certificate and\n"
    "                       bcrypt passwords, in the YAML of exporters' web\n"
    "                       configurations (tls_server_config, basic_auth_users)\n"
    "         Exit status: 0 when every query was answered, 1 when some were\n"
    "         not, 2 for a refused address, a socket failure, a peer that\n"
    "         closed or reset the connection, or a usage error.\n"
    "check-config FILE  reads FILE as --config does: \"FILE: good, ...\" and 0,\n"
    "         or every fault as FILE:LINE:COLUMN: reason and 2.\n"
    "diagnose tells why and where the path to HOST PORT fails (TCP unless\n"
    "         --udp or --tls): the name look-up, then open, refused by the host,\n"
    "         rejected on the way (the router and its ICMP message), filtered\n"
    "         (and the last hop that answers), no route, or blocked on this\n"
    "         machine; the hops when it is not open, or with --hops (up to\n"
    "         --max-hops, default 16).  -W is the wait for an answer (default\n"
    "         2 s); -I (an address), -4, -6, --insecure and --cacert as for\n"
    "         probe.  --json: one JSON\n"
    "         document.\n"
    "         Exit status: 0 open, 1 not open, 2 a usage error.\n"
    "--tls    TLS over TCP.  probe verifies the server's certificate against the\n"
    "         system's trust store (--cacert: the certificates in FILE instead)\n"
    "         and refuses one that does not verify unless --insecure; respond\n"
    "         shows tls-cert.pem and tls-key.pem from the program folder, made\n"
    "         self-signed on first use, or --cert and --key.\n"
    "\n"
    "Both print what the window's messages pane would show, one line each, and\n"
    "write the same daily log (see PROGRAMFILES and COMPUTERNAME).\n");

constexpr unsigned Respond = 1, Probe = 2, Both = Respond | Probe, Diagnose = 4;

// One option of the table: its names, whether it takes a value, the
// commands it is for, and what it does to the command.
struct Option
{
    QStringList names;
    bool takesValue;
    unsigned commands;
    OptionApply apply;
};

QString count(Command &c, const QString &v)
{
    bool ok = false;
    const qlonglong value = v.toLongLong(&ok);
    if (ok && value > INT_MAX)
        return QStringLiteral("--count: %1 is too large (at most %2).").arg(v).arg(INT_MAX);
    if (!ok || value < 1)
        return QStringLiteral("--count needs a number of at least 1.");
    c.count = int(value);
    return {};
}

QString maxHops(Command &c, const QString &v)
{
    bool ok = false;
    c.maxHops = v.toInt(&ok);
    return ok && c.maxHops >= 1 && c.maxHops <= 255
               ? QString()
               : QStringLiteral("--max-hops needs a number from 1 to 255.");
}

// A number as ping takes one: decimal, or hexadecimal after 0x.
int byteValue(const QString &v)
{
    bool ok = false;
    const bool hex = v.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const int value = (hex ? v.sliced(2) : v).toInt(&ok, hex ? 16 : 10);
    return ok && !v.contains(u'+') && !v.contains(u'-') ? value : -1;
}

QString tos(Command &c, const QString &v)
{
    c.tos = byteValue(v);
    return c.tos >= 0 && c.tos <= 255
               ? QString()
               : QStringLiteral("--tos needs the TOS byte, from 0 to 255 or 0x00 to 0xff, "
                                "not \"%1\".")
                     .arg(v);
}

QString size(Command &c, const QString &v)
{
    bool ok = false;
    c.payloadSize = v.toInt(&ok);
    return ok && c.payloadSize > 0
               ? QString()
               : QStringLiteral("--size needs a number of bytes, not \"%1\".").arg(v);
}

QString metrics(Command &c, const QString &v)
{
    c.metrics = v;
    return IsMetricsAddress(v)
               ? QString()
               : QStringLiteral("--metrics needs ADDRESS:PORT, e.g. 127.0.0.1:9464.");
}

QString allow(Command &c, const QString &v)
{
    for (const QString &text : v.split(u',')) {
        QString why;
        const std::optional<AddressRange> range = ReadAddressRange(text.trimmed(), &why);
        if (!range)
            return why;
        c.limits.allow.append(*range);
    }
    return {};
}

OptionApply takesBudget(AnswerBudget ResponderLimits::*field, const char *name)
{
    return [field, name](Command &c, const QString &v) {
        QString why;
        const std::optional<AnswerBudget> budget = ReadAnswerBudget(QLatin1String(name), v, &why);
        if (budget)
            c.limits.*field = *budget;
        return why;
    };
}

const QList<Option> &options()
{
    using C = Command;
    static const QList<Option> table = {
        {{"tcp"}, false, Both | Diagnose, SetsFlag(&C::wantsTcp)},
        {{"udp"}, false, Both | Diagnose, SetsFlag(&C::wantsUdp)},
        {{"tls"}, false, Both | Diagnose, SetsFlag(&C::tls)},
        {{"port"},
         true,
         Respond,
         KeepsPort(&C::port, 1, "respond needs --port N, N from 1 to 65535.")},
        {{"local"}, true, Respond, KeepsValue(&C::local)},
        {{"stamp"}, false, Both, SetsFlag(&C::stamp)},
        {{"allow"}, true, Respond, allow},
        {{"budget-per-source"},
         true,
         Respond,
         takesBudget(&ResponderLimits::perSource, "--budget-per-source")},
        {{"budget"}, true, Respond, takesBudget(&ResponderLimits::total, "--budget")},
        {{"c", "count"}, true, Probe, count},
        {{"i", "interval"}, true, Probe, TakesSeconds(&C::intervalMs, "--interval", 10)},
        {{"W", "timeout"}, true, Probe | Diagnose, TakesSeconds(&C::timeoutMs, "--timeout", 1)},
        {{"w", "deadline"}, true, Probe, TakesSeconds(&C::deadlineMs, "--deadline", 1)},
        {{"q", "quiet"}, false, Probe, SetsFlag(&C::quiet)},
        {{"I", "source"}, true, Probe | Diagnose, KeepsValue(&C::source)},
        {{"4"}, false, Probe | Diagnose, SetsFamily(4)},
        {{"6"}, false, Probe | Diagnose, SetsFamily(6)},
        {{"Q", "tos"}, true, Both, tos},
        {{"s", "size"}, true, Probe, size},
        {{"local-port"},
         true,
         Probe,
         KeepsPort(&C::localPort, 0, "--local-port must be a number from 0 to 65535.")},
        {{"keep-going"}, false, Probe, SetsFlag(&C::keepGoing)},
        {{"require-token"}, false, Probe, SetsFlag(&C::requireToken)},
        {{"connect"}, false, Probe, SetsFlag(&C::connectOnly)},
        {{"json"}, false, Probe | Diagnose, SetsFlag(&C::json)},
        {{"json-stream"}, false, Probe, SetsFlag(&C::jsonStream)},
        {{"hops"}, false, Diagnose, SetsFlag(&C::hops)},
        {{"max-hops"}, true, Diagnose, maxHops},
        {{"every-query"}, false, Both, SetsFlag(&C::everyQuery)},
        {{"targets"}, true, Probe, KeepsValue(&C::targetsFile)},
        {{"servers"},
         true,
         Probe,
         KeepsPort(&C::serversPort, 1, "--servers needs a PORT from 1 to 65535.")},
        {{"metrics"}, true, Both, metrics},
        {{"web-config"}, true, Both, KeepsValue(&C::webConfig)},
        {{"insecure"}, false, Probe | Diagnose, SetsFlag(&C::insecure)},
        {{"cacert"}, true, Probe | Diagnose, KeepsValue(&C::cacert)},
        {{"cert"}, true, Both, KeepsValue(&C::cert)},
        {{"key"}, true, Both, KeepsValue(&C::key)},
        {{"config"}, true, Both, KeepsValue(&C::configFile)},
        {{"print-config"}, false, Both, SetsFlag(&C::printConfig)},
    };
    return table;
}

// The first argument decides: a word or a long option is ours; the window
// takes Qt's own single-dash options ("-platform offscreen").
bool isOurs(const QString &argument)
{
    return !argument.startsWith(u'-') || argument.startsWith(QLatin1String("--"))
           || argument == QLatin1String("-h") || argument == QLatin1String("-v");
}

// Adds HOST PORT pairs (where: the file and line they came from, for errors).
QString addTargets(Command &command, const QStringList &words, const QString &where)
{
    const QString at = where.isEmpty() ? QString() : where + QStringLiteral(": ");
    for (qsizetype i = 0; i + 1 < words.size(); i += 2) {
        const int port = PortNumber(words.at(i + 1));
        if (port < 0)
            return at
                   + QStringLiteral("PORT must be a number from 1 to 65535, not \"%1\".")
                         .arg(words.at(i + 1));
        QString error;
        const std::pair target{NormalHost(words.at(i), &error), quint16(port)};
        if (!error.isEmpty())
            return at + error;
        if (command.targets.contains(target))
            return at + QStringLiteral("%1 %2 is given twice.").arg(target.first).arg(port);
        command.targets.append(target);
    }
    return {};
}

QString readTargets(Command &command)
{
    QFile file(command.targetsFile);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Cannot read the targets file %1: %2.")
            .arg(file.fileName(), file.errorString());
    int line = 0;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        ++line;
        const QStringList pair = QString::fromUtf8(raw)
                                     .section(u'#', 0, 0)
                                     .simplified()
                                     .split(u' ', Qt::SkipEmptyParts);
        const QString where = QStringLiteral("%1, line %2").arg(file.fileName()).arg(line);
        if (pair.isEmpty())
            continue;
        if (pair.size() != 2)
            return where + QStringLiteral(": HOST PORT expected.");
        if (const QString error = addTargets(command, pair, where); !error.isEmpty())
            return error;
    }
    return {};
}

// -I: an address stays one; a name is an interface of this machine, which
// every packet must then leave by.
QString sourceOrDevice(Command &command)
{
    if (command.source.isEmpty() || QHostAddress().setAddress(command.source))
        return FamilyRefusal(command.family, command.source);
    QStringList names;
    for (const QNetworkInterface &i : QNetworkInterface::allInterfaces())
        names.append(i.name());
    if (!names.contains(command.source))
        return QStringLiteral("-I needs an address or an interface of this machine (%1), not "
                              "\"%2\".")
            .arg(names.join(QStringLiteral(", ")), command.source);
    command.device = std::exchange(command.source, QString());
    if (const int error = DeviceRefusal(command.device.toStdString()))
        return error == EPERM ? QStringLiteral("-I %1: binding to a device needs CAP_NET_RAW "
                                               "on this system (root); -I ADDRESS needs none.")
                                    .arg(command.device)
                              : QStringLiteral("-I %1: the interface cannot be bound to: %2.")
                                    .arg(command.device, QString::fromLocal8Bit(strerror(error)));
    return {};
}

// -s: enough for a padding its answer matches, at most what one query can be.
QString sizeRefusal(const Command &command)
{
    if (command.payloadSize == 0)
        return {};
    if (command.connectOnly || command.stamp)
        return QStringLiteral("--size pads the AutoPing queries of --tcp, --udp and --tls: not "
                              "for --connect or --stamp.");
    const bool udp = !command.tcp;
    // A stream's token ends with the padding's line feed.
    const int low = SmallestPadded(udp || command.requireToken);
    const int high = !udp ? MaxPadded : command.family == 6 ? 65527 : 65507;
    if (command.payloadSize >= low && command.payloadSize <= high)
        return {};
    return QStringLiteral("--size needs a number from %1 to %2 for %3.")
        .arg(low)
        .arg(high)
        .arg(!udp && command.requireToken ? QStringLiteral("--tcp and --tls with --require-token")
             : !udp                       ? QStringLiteral("--tcp and --tls")
             : command.family == 6        ? QStringLiteral("--udp with -6")
                                          : QStringLiteral("--udp (65527 with -6)"));
}

// The rules between options, once all were read.
QString checkTogether(Command &command)
{
    const bool respond = command.kind == Command::Respond;
    const int protocols = int(command.wantsTcp) + int(command.wantsUdp) + int(command.tls);
    // (A configuration file may name the metrics address itself.)
    if (!command.webConfig.isEmpty() && command.metrics.isEmpty() && command.configFile.isEmpty())
        return QStringLiteral("--web-config locks the metrics endpoint: it needs --metrics.");
    if (!command.configFile.isEmpty()) {
        if (respond
            && (protocols > 0 || command.stamp || command.port != 0 || !command.local.isEmpty()))
            return QStringLiteral("respond --config takes its ports from the file: no --tcp, "
                                  "--udp, --tls, --stamp, --port or --local.");
        if (!respond
            && (!command.targets.isEmpty() || !command.targetsFile.isEmpty()
                || command.serversPort != 0 || command.localPort != 0))
            return QStringLiteral("probe --config takes its targets from the file: no HOST "
                                  "PORT, --targets, --servers or --local-port.");
        if (protocols > 1 || (command.connectOnly && command.wantsUdp))
            return QStringLiteral("Choose one protocol: --tcp, --udp or --tls.");
        if (!command.key.isEmpty() && command.cert.isEmpty())
            return QStringLiteral("--key needs --cert.");
        // -I NAME is the file's interface, -I ADDRESS its source.
        return respond ? QString() : sourceOrDevice(command);
    }
    if (command.connectOnly && command.wantsUdp)
        return QStringLiteral("--connect makes TCP connections: no --udp.");
    if (command.stamp && respond) {
        if (command.wantsTcp || command.tls || !command.cert.isEmpty() || !command.key.isEmpty())
            return QStringLiteral(
                "--stamp reflects UDP test packets: no --tcp, --tls, --cert or --key.");
        if (command.everyQuery)
            return QStringLiteral("--stamp tells a line a minute per sender: no --every-query.");
        if (command.tos >= 0)
            return QStringLiteral("--stamp answers with the DSCP a request asks for: no --tos.");
        if (command.port == 0)
            command.port = 862;
        if (command.local.isEmpty())
            command.local = QStringLiteral("::");
        return {};
    }
    if (command.stamp) {
        if (protocols > 0 || command.connectOnly || !command.cacert.isEmpty() || command.insecure
            || !command.cert.isEmpty() || !command.key.isEmpty())
            return QStringLiteral("--stamp sends UDP test packets: no --tcp, --udp, --tls, "
                                  "--connect or their TLS options.");
    } else if (!command.connectOnly && protocols != 1)
        return QStringLiteral("Choose one protocol: --tcp, --udp or --tls.");
    command.tcp = !command.wantsUdp && !command.stamp;
    if (!command.tls
        && (command.insecure || !command.cacert.isEmpty() || !command.cert.isEmpty()
            || !command.key.isEmpty()))
        return QStringLiteral("--insecure, --cacert, --cert and --key are for --tls.");
    if (!command.key.isEmpty() && command.cert.isEmpty())
        return QStringLiteral("--key needs --cert.");
    if (command.requireToken && (command.connectOnly || command.stamp))
        return QStringLiteral("--require-token is for --udp, --tcp and --tls: --connect and "
                              "--stamp send no AutoPing queries.");
    if (command.json && command.jsonStream)
        return QStringLiteral("Choose one of --json and --json-stream.");
    if (respond) {
        if (command.port == 0)
            return QStringLiteral("respond needs --port N, N from 1 to 65535.");
        if (command.tos >= 0 && !command.tcp)
            return QStringLiteral(
                "--tos is for --tcp and --tls: a UDP responder answers with each query's own.");
        if (command.local.isEmpty())
            command.local = QStringLiteral("::");
        return {};
    }
    if (!command.targetsFile.isEmpty())
        if (const QString error = readTargets(command); !error.isEmpty())
            return error;
    if (command.targets.isEmpty() && command.serversPort == 0)
        return QStringLiteral("probe needs HOST and PORT (one pair per target).");
    if (command.localPort != 0 && (command.targets.size() != 1 || command.connectOnly))
        return QStringLiteral("--local-port is for one target, not --connect.");
    if (command.keepGoing && command.connectOnly)
        return QStringLiteral("--keep-going has no connection to keep with --connect.");
    for (const auto &target : std::as_const(command.targets))
        if (const QString error = FamilyRefusal(command.family, target.first); !error.isEmpty())
            return error;
    if (const QString error = sizeRefusal(command); !error.isEmpty())
        return error;
    return sourceOrDevice(command);
}

// diagnose: one HOST PORT, one protocol at most (TCP unless told).
Command checkDiagnose(Command &command, const QStringList &words)
{
    if (words.size() != 2)
        return UsageError(QStringLiteral("diagnose needs one HOST and one PORT."));
    if (int(command.wantsTcp) + int(command.wantsUdp) + int(command.tls) > 1)
        return UsageError(QStringLiteral("Choose one protocol: --tcp, --udp or --tls."));
    if (PortNumber(words.at(1)) < 0)
        return UsageError(
            QStringLiteral("PORT must be a number from 1 to 65535, not \"%1\".").arg(words.at(1)));
    QString error;
    command.host = NormalHost(words.at(0), &error);
    if (!error.isEmpty())
        return UsageError(error);
    if (command.host.isEmpty())
        return UsageError(QStringLiteral("diagnose needs one HOST and one PORT."));
    command.port = quint16(PortNumber(words.at(1)));
    command.tcp = !command.wantsUdp;
    if (!command.tls && (command.insecure || !command.cacert.isEmpty()))
        return UsageError(QStringLiteral("--insecure and --cacert are for --tls."));
    for (const QString &text : {command.host, command.source})
        if (const QString error = FamilyRefusal(command.family, text); !error.isEmpty())
            return UsageError(error);
    if (!command.source.isEmpty()
        && !QNetworkInterface::allAddresses().contains(QHostAddress(command.source)))
        return UsageError(
            QStringLiteral("-I needs an address of this machine, not \"%1\".").arg(command.source));
    return command;
}

} // namespace

QString UsageText()
{
    return Usage + u'\n' + LoadUsageText();
}

Command ParseCommandLine(const QStringList &arguments)
{
    if (arguments.size() < 2 || !isOurs(arguments.at(1)))
        return {};

    if (arguments.at(1) == QLatin1String("load"))
        return ParseLoadCommandLine(arguments);

    Command command;
    QStringList words;
    QList<std::pair<const Option *, QString>> found;
    // Each option is applied once the verb says which it may be.
    if (std::optional<Command> ends = ReadArguments<Option>(
            arguments, 1, options(), true, QStringLiteral("Unknown option '%1'; try --help."),
            &words, [&](const Option &option, const QString &value) {
                found.append({&option, value});
                return QString();
            }))
        return *ends;

    const QString verb = words.isEmpty() ? QString() : words.takeFirst();
    if (verb == QLatin1String("respond"))
        command.kind = Command::Respond;
    else if (verb == QLatin1String("probe"))
        command.kind = Command::Probe;
    else if (verb == QLatin1String("diagnose"))
        command.kind = Command::Diagnose;
    else if (verb == QLatin1String("check-config")) {
        if (!found.isEmpty() || words.size() != 1)
            return UsageError(QStringLiteral("check-config takes one FILE and no options."));
        command.kind = Command::CheckConfig;
        command.configFile = words.first();
        return command;
    } else
        return UsageError(QStringLiteral("Unknown command \"%1\"; try --help.").arg(verb));
    const unsigned kind = command.kind == Command::Respond    ? Respond
                          : command.kind == Command::Diagnose ? Diagnose
                                                              : Probe;
    for (const auto &[option, value] : found) {
        if (!(option->commands & kind))
            return UsageError(
                option->commands == Respond
                    ? QStringLiteral("--%1 is for respond; probe takes HOST PORT.")
                          .arg(option->names.last())
                : option->commands == Diagnose
                    ? QStringLiteral("--%1 is for diagnose.").arg(option->names.last())
                    : QStringLiteral("--%1 is for probe.").arg(option->names.last()));
        if (const QString error = option->apply(command, value); !error.isEmpty())
            return UsageError(error);
        command.given.append(option->names.last());
    }
    if (command.kind == Command::Diagnose)
        return checkDiagnose(command, words);
    if (command.kind == Command::Respond && !words.isEmpty())
        return UsageError(QStringLiteral("respond takes no HOST or PORT; use --port."));
    // A reflector's port may be left out: the standard one.
    if (command.stamp)
        for (qsizetype i = 0; i < words.size(); i += 2)
            if (i + 1 == words.size() || PortNumber(words.at(i + 1)) < 0)
                words.insert(i + 1, QString::number(Stamp::DefaultPort));
    if (words.size() % 2 != 0)
        return UsageError(QStringLiteral("probe needs HOST and PORT (one pair per target)."));
    if (const QString error = addTargets(command, words, {}); !error.isEmpty())
        return UsageError(error);
    if (const QString error = checkTogether(command); !error.isEmpty())
        return UsageError(error);
    if (!command.targets.isEmpty()) {
        command.host = command.targets.first().first;
        command.port = command.targets.first().second;
    }
    return command;
}

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The load command's options (commandline.h): a table of its own, in the
// forms the other commands take (--name VALUE, --name=VALUE, -x VALUE, -xVALUE).

#include "commandline.h"
#include "optionwords.h"

#include "load/loadpacer.h"
#include "load/loadwire.h"

#include <climits>
#include <functional>

namespace {

const QString Usage = QStringLiteral(
    "load     sends pieces to a `selmarin respond` at HOST PORT at a rate, and\n"
    "         prints a line a second and a summary of both ends: the far end\n"
    "         counts what arrived (received, lost, out of order, duplicated,\n"
    "         jitter, delay variation, goodput) and reports it in band.\n"
    "  --rate R             datagrams a second (1000), or bits a second with k, M\n"
    "                       or G (100k, 10M, 1G); 0: as fast as the path takes\n"
    "                       (default: 1M over UDP, as fast as it takes over TCP)\n"
    "  --size B             bytes of a datagram (UDP payload; default 1400), or of\n"
    "                       a piece of the stream (default 131072)\n"
    "  -t, --time S         seconds to send (default 10)\n"
    "  -c, --count N        or N datagrams (pieces)\n"
    "  --burst N            N back to back at each tick, the ticks N times apart\n"
    "  --warmup S           send S seconds first that are not counted\n"
    "         Exit status: 0 when the far end counted everything, 1 when\n"
    "         something was lost (or no count came), 2 as for probe.\n");

QString secondsIn(const QString &name, const QString &text, bool zero, int *ms)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || value < 0 || (!zero && value * 1000 + 0.5 < 1))
        return QStringLiteral("%1 needs seconds, %2.")
            .arg(name, zero ? QStringLiteral("0 or more") : QStringLiteral("more than 0"));
    if (value > 2'000'000)
        return QStringLiteral("%1: %2 seconds is too long (at most 2000000).").arg(name, text);
    *ms = int(value * 1000 + 0.5);
    return {};
}

QString number(const QString &name, const QString &text, qint64 low, qint64 high, int *out)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok || value < low || value > high)
        return QStringLiteral("%1 needs a number from %2 to %3.").arg(name).arg(low).arg(high);
    *out = int(value);
    return {};
}

struct Option
{
    QStringList names;
    bool takesValue;
    std::function<QString(Command &, const QString &)> apply;
};

const QList<Option> &options()
{
    static const QList<Option> table = {
        {{"udp"}, false, [](Command &c, const QString &) { return c.wantsUdp = true, QString(); }},
        {{"tcp"}, false, [](Command &c, const QString &) { return c.wantsTcp = true, QString(); }},
        {{"tls"}, false, [](Command &c, const QString &) { return c.tls = true, QString(); }},
        {{"rate"},
         true,
         [](Command &c, const QString &v) {
             QString error;
             const std::optional<LoadRate> rate = ParseLoadRate(v, &error);
             if (rate) {
                 c.loadRate = rate->value;
                 c.loadRateBits = rate->bits;
             }
             return error;
         }},
        {{"size"},
         true,
         [](Command &c, const QString &v) {
             return number("--size", v, LoadWire::MinSize, 16 * 1024 * 1024, &c.loadSize);
         }},
        {{"t", "time"},
         true,
         [](Command &c, const QString &v) { return secondsIn("--time", v, false, &c.loadTimeMs); }},
        {{"c", "count"},
         true,
         [](Command &c, const QString &v) { return number("--count", v, 1, INT_MAX, &c.count); }},
        {{"burst"},
         true,
         [](Command &c, const QString &v) {
             return number("--burst", v, 1, 1'000'000, &c.loadBurst);
         }},
        {{"warmup"},
         true,
         [](Command &c, const QString &v) {
             return secondsIn("--warmup", v, true, &c.loadWarmUpMs);
         }},
        {{"q", "quiet"},
         false,
         [](Command &c, const QString &) { return c.quiet = true, QString(); }},
        {{"json"}, false, [](Command &c, const QString &) { return c.json = true, QString(); }},
        {{"I", "source"},
         true,
         [](Command &c, const QString &v) { return c.source = v, QString(); }},
        {{"insecure"},
         false,
         [](Command &c, const QString &) { return c.insecure = true, QString(); }},
        {{"cacert"}, true, [](Command &c, const QString &v) { return c.cacert = v, QString(); }},
        {{"cert"}, true, [](Command &c, const QString &v) { return c.cert = v, QString(); }},
        {{"key"}, true, [](Command &c, const QString &v) { return c.key = v, QString(); }},
    };
    return table;
}

} // namespace

QString LoadUsageText()
{
    return Usage;
}

Command ParseLoadCommandLine(const QStringList &arguments)
{
    Command command;
    command.kind = Command::Load;
    QStringList words;
    if (std::optional<Command> ends
        = ReadArguments<Option>(arguments, 2, options(), false,
                                QStringLiteral("Unknown option '%1' for load; try --help."), &words,
                                [&](const Option &option, const QString &value) {
                                    return option.apply(command, value);
                                }))
        return *ends;
    if (int(command.wantsTcp) + int(command.wantsUdp) + int(command.tls) != 1)
        return UsageError(QStringLiteral("Choose one protocol: --tcp, --udp or --tls."));
    command.tcp = !command.wantsUdp;
    if (words.size() != 2)
        return UsageError(QStringLiteral("load needs HOST and PORT (one target)."));
    QString error;
    const QString host = NormalHost(words.at(0), &error);
    if (!error.isEmpty())
        return UsageError(error);
    const QString &port = words.at(1);
    const int portValue = PortNumber(port);
    if (portValue < 0)
        return UsageError(
            QStringLiteral("PORT must be a number from 1 to 65535, not \"%1\".").arg(port));
    command.host = host;
    command.port = QString::number(portValue);
    command.targets = {{command.host, command.port}};
    if (command.count > 0 && command.loadTimeMs > 0)
        return UsageError(QStringLiteral("Choose --time or --count, not both."));
    if (!command.tls
        && (command.insecure || !command.cacert.isEmpty() || !command.cert.isEmpty()
            || !command.key.isEmpty()))
        return UsageError(QStringLiteral("--insecure, --cacert, --cert and --key are for --tls."));
    if (!command.key.isEmpty() && command.cert.isEmpty())
        return UsageError(QStringLiteral("--key needs --cert."));
    if (!command.tcp && command.loadSize > LoadWire::MaxDatagram)
        return UsageError(QStringLiteral("--size: a UDP datagram holds at most %1 bytes.")
                              .arg(LoadWire::MaxDatagram));
    // The defaults: iperf3's 1 Mbit/s over UDP, as fast as it takes over TCP.
    if (command.loadSize == 0)
        command.loadSize = command.tcp ? 128 * 1024 : 1400;
    if (command.loadRate < 0) {
        command.loadRate = command.tcp ? 0 : 1e6;
        command.loadRateBits = !command.tcp;
    }
    if (command.count == 0 && command.loadTimeMs == 0)
        command.loadTimeMs = 10'000;
    return command;
}

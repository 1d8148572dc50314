// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The load command's options (commandline.h): a table of its own, in the
// forms the other commands take (--name VALUE, --name=VALUE, -x VALUE, -xVALUE).

#include "commandline.h"
#include "optionwords.h"

#include "load/loadpacer.h"
#include "load/loadwire.h"

#include <climits>

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
    "  -4, -6               as for probe\n"
    "         Exit status: 0 when the far end counted everything, 1 when\n"
    "         something was lost (or no count came), 2 as for probe.\n");

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
    OptionApply apply;
};

QString rate(Command &c, const QString &v)
{
    QString error;
    if (const std::optional<LoadRate> rate = ParseLoadRate(v, &error)) {
        c.loadRate = rate->value;
        c.loadRateBits = rate->bits;
    }
    return error;
}

const QList<Option> &options()
{
    using C = Command;
    static const QList<Option> table = {
        {{"udp"}, false, SetsFlag(&C::wantsUdp)},
        {{"tcp"}, false, SetsFlag(&C::wantsTcp)},
        {{"tls"}, false, SetsFlag(&C::tls)},
        {{"rate"}, true, rate},
        {{"size"},
         true,
         [](Command &c, const QString &v) {
             return number("--size", v, LoadWire::MinSize, 16 * 1024 * 1024, &c.loadSize);
         }},
        {{"t", "time"}, true, TakesSeconds(&C::loadTimeMs, "--time", 1)},
        {{"c", "count"},
         true,
         [](Command &c, const QString &v) { return number("--count", v, 1, INT_MAX, &c.count); }},
        {{"burst"},
         true,
         [](Command &c, const QString &v) {
             return number("--burst", v, 1, 1'000'000, &c.loadBurst);
         }},
        {{"warmup"}, true, TakesSeconds(&C::loadWarmUpMs, "--warmup", 0)},
        {{"q", "quiet"}, false, SetsFlag(&C::quiet)},
        {{"json"}, false, SetsFlag(&C::json)},
        {{"I", "source"}, true, KeepsValue(&C::source)},
        {{"4"}, false, SetsFamily(4)},
        {{"6"}, false, SetsFamily(6)},
        {{"insecure"}, false, SetsFlag(&C::insecure)},
        {{"cacert"}, true, KeepsValue(&C::cacert)},
        {{"cert"}, true, KeepsValue(&C::cert)},
        {{"key"}, true, KeepsValue(&C::key)},
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
    if (const QString refusal = FamilyRefusal(command.family, host); !refusal.isEmpty())
        return UsageError(refusal);
    command.host = host;
    command.port = quint16(portValue);
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

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "serviceplan.h"

#include "metricsendpoint.h"
#include "optionwords.h"
#include "webconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString protocolOf(const Command &command)
{
    return command.stamp                      ? QStringLiteral("stamp")
           : command.connectOnly              ? QStringLiteral("connect")
           : command.tls                      ? QStringLiteral("tls")
           : command.wantsUdp || !command.tcp ? QStringLiteral("udp")
                                              : QStringLiteral("tcp");
}

// The command line's settings, as the file writes them.
ProbeSettings settingsOf(const Command &command)
{
    ProbeSettings s;
    s.protocol = protocolOf(command);
    s.intervalMs = command.intervalMs;
    s.timeoutMs = command.timeoutMs;
    s.family = command.family;
    s.dscp = command.tos >= 0 ? command.tos >> 2 : 0;
    s.size = command.payloadSize;
    s.source = command.device.isEmpty() ? command.source : QString();
    s.interface = command.device;
    return s;
}

// The file's keys of the options given.
QStringList keysGiven(const Command &command)
{
    QStringList keys;
    for (const QString &option : command.given) {
        if (QStringList{"tcp", "udp", "tls", "connect", "stamp"}.contains(option))
            keys << QStringLiteral("protocol");
        else if (option == QLatin1String("source"))
            keys << QStringLiteral("source") << QStringLiteral("interface");
        else if (option == QLatin1String("tos"))
            keys << QStringLiteral("dscp");
        else if (QStringList{"4", "6", "ipv4", "ipv6"}.contains(option))
            keys << QStringLiteral("family");
        else
            keys << option; // interval, timeout, size
    }
    return keys;
}

QString at(const Command &command, int line, int column, const QString &reason)
{
    return QStringLiteral("%1:%2:%3: %4").arg(command.configFile).arg(line).arg(column).arg(reason);
}

} // namespace

ServiceConfig ConfigOfCommand(const Command &command, QStringList *faults)
{
    if (command.configFile.isEmpty()) {
        ServiceConfig config;
        config.defaults = settingsOf(command);
        config.metrics = command.metrics;
        config.webConfig = command.webConfig;
        if (command.kind == Command::Respond) {
            RespondEntry entry{protocolOf(command), command.port, command.local};
            const auto given
                = [&](const char *option) { return command.given.contains(QLatin1String(option)); };
            if (given("allow"))
                entry.allow = command.limits.allow;
            if (given("budget-per-source"))
                entry.perSource = command.limits.perSource;
            if (given("budget"))
                entry.total = command.limits.total;
            config.respond.append(entry);
        } else
            for (const auto &[host, port] : command.targets)
                config.targets.append({DefaultTargetName(host, port), host, port, config.defaults});
        return config;
    }
    QFile file(command.configFile);
    if (!file.open(QIODevice::ReadOnly)) {
        faults->append(
            QStringLiteral("%1: cannot be read: %2").arg(command.configFile, file.errorString()));
        return {};
    }
    QList<ConfigFault> found;
    ServiceConfig config
        = ReadServiceConfig(file.readAll(), &found, settingsOf(command), keysGiven(command));
    for (const ConfigFault &fault : found)
        faults->append(at(command, fault.line, fault.column, fault.reason));
    if (command.given.contains(QLatin1String("metrics")))
        config.metrics = command.metrics;
    // The file's web configuration is where the file is; the option's, where it was given.
    if (command.given.contains(QLatin1String("web-config"))) {
        config.webConfig = command.webConfig;
        config.webConfigLine = 0;
    } else if (!config.webConfig.isEmpty())
        config.webConfig = QFileInfo(command.configFile).absoluteDir().filePath(config.webConfig);
    return config;
}

ServicePlan PlanOf(const ServiceConfig &config, const Command &command, QStringList *faults)
{
    ServicePlan plan;
    plan.metrics = config.metrics;
    if (!plan.metrics.isEmpty() && !IsMetricsAddress(plan.metrics))
        faults->append(at(command, config.metricsLine, config.metricsColumn,
                          QStringLiteral("metrics: \"%1\" is not an address of this "
                                         "machine with a port")
                              .arg(plan.metrics)));
    plan.webConfig = config.webConfig;
    if (config.webConfigLine > 0) {
        WebConfig web;
        QString why;
        if (plan.metrics.isEmpty())
            why = QStringLiteral("web_config locks the metrics endpoint: it needs metrics.");
        else if (ReadWebConfig(config.webConfig, &web, &why))
            why.clear();
        else
            why.prepend(QStringLiteral("web_config: "));
        if (!why.isEmpty())
            faults->append(
                at(command, config.webConfigLine, config.webConfigColumn, why.chopped(1)));
    }
    for (const TargetEntry &entry : config.targets) {
        Command c = command;
        const ProbeSettings &s = entry.settings;
        QString error;
        c.host = NormalHost(entry.host, &error);
        if (!error.isEmpty())
            faults->append(at(command, entry.line, entry.column, error));
        c.port = entry.port;
        c.targets = {{c.host, c.port}};
        c.stamp = s.protocol == QLatin1String("stamp");
        c.connectOnly = s.protocol == QLatin1String("connect");
        c.tls = s.protocol == QLatin1String("tls");
        c.tcp = s.protocol != QLatin1String("udp") && !c.stamp;
        c.intervalMs = s.intervalMs;
        c.timeoutMs = s.timeoutMs;
        c.family = s.family;
        c.tos = s.dscp > 0 ? s.dscp << 2 : -1;
        c.payloadSize = s.size;
        c.source = s.source;
        c.device = s.interface;
        // A service never gives a target up.
        c.keepGoing = true;
        plan.targets.append({entry, c});
    }
    for (const RespondEntry &entry : config.respond) {
        Command c = command;
        c.kind = Command::Respond;
        c.stamp = entry.protocol == QLatin1String("stamp");
        c.tls = entry.protocol == QLatin1String("tls");
        c.tcp = entry.protocol == QLatin1String("tcp") || c.tls;
        c.port = entry.port;
        c.local = entry.local;
        c.limits = entry.limitsOver(command.limits);
        plan.responders.append({entry, c});
    }
    return plan;
}

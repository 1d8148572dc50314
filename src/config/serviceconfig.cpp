// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "serviceconfig.h"

#include "base/hostport.h"

#include <QRegularExpression>
#include <QStringList>

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cmath>

namespace {

const QStringList Protocols = {"tcp", "udp", "tls", "connect", "stamp"};
const QStringList RespondProtocols = {"tcp", "udp", "tls", "stamp"};
const QStringList Families = {"any", "ipv4", "ipv6"};
// The labels the page sets itself.
const QStringList OwnLabels = {"target", "reason", "le", "direction", "port", "protocol"};
const QStringList SettingKeys = {"protocol", "interval", "timeout",   "family", "dscp",
                                 "size",     "source",   "interface", "labels"};
constexpr int LongestMs = 2'000'000'000; // as the command line: 2,000,000 s

QString text(const YAML::Node &node)
{
    return QString::fromStdString(node.Scalar());
}

// Collects the faults of one reading.
class Reader
{
public:
    explicit Reader(QList<ConfigFault> *faults) : m_faults(faults) {}

    void fault(const YAML::Node &at, const QString &reason)
    {
        const YAML::Mark mark = at.Mark();
        m_faults->append({mark.line + 1, mark.column + 1, reason});
    }

    // The pairs of a map, each key once; a fault (and none) when it is no
    // map or a key is not one of keys.
    QList<std::pair<YAML::Node, YAML::Node>> pairs(const YAML::Node &map, const QString &what,
                                                   const QStringList &keys)
    {
        QList<std::pair<YAML::Node, YAML::Node>> found;
        if (map.IsNull())
            return found;
        if (!map.IsMap()) {
            fault(map, QStringLiteral("%1: a map of keys and values expected").arg(what));
            return found;
        }
        QStringList seen;
        for (const auto &pair : map) {
            const QString key = pair.first.IsScalar() ? text(pair.first) : QString();
            if (!keys.isEmpty() && !keys.contains(key))
                fault(pair.first, QStringLiteral("%1: unknown key \"%2\" (known: %3)")
                                      .arg(what, key, keys.join(QStringLiteral(", "))));
            else if (seen.contains(key))
                fault(pair.first, QStringLiteral("%1: \"%2\" is given twice").arg(what, key));
            else {
                seen.append(key);
                found.append({pair.first, pair.second});
            }
        }
        return found;
    }

    bool scalar(const QString &key, const YAML::Node &value)
    {
        if (value.IsScalar())
            return true;
        fault(value, QStringLiteral("%1: a single value expected").arg(key));
        return false;
    }

    // A whole number from low to high.
    bool number(const QString &key, const YAML::Node &value, int low, int high, int *out)
    {
        if (!scalar(key, value))
            return false;
        bool ok = false;
        const qlonglong n = text(value).toLongLong(&ok);
        if (!ok || n < low || n > high) {
            fault(value, QStringLiteral("%1: \"%2\" is not a whole number from %3 to %4")
                             .arg(key, text(value))
                             .arg(low)
                             .arg(high));
            return false;
        }
        *out = int(n);
        return true;
    }

    // "500ms", "1s", "1.5s" or a plain number of seconds, at least lowMs.
    bool duration(const QString &key, const YAML::Node &value, int lowMs, int *ms)
    {
        if (!scalar(key, value))
            return false;
        static const QRegularExpression form(QStringLiteral("^(\\d+(?:\\.\\d+)?)\\s*(ms|s)?$"));
        const QRegularExpressionMatch match = form.match(text(value));
        if (!match.hasMatch()) {
            fault(value, QStringLiteral("%1: \"%2\" is no duration (\"500ms\", \"1s\" or seconds)")
                             .arg(key, text(value)));
            return false;
        }
        const double scale = match.captured(2) == QLatin1String("ms") ? 1 : 1000;
        const double whole = std::round(match.captured(1).toDouble() * scale);
        if (whole < lowMs || whole > LongestMs) {
            fault(value, QStringLiteral("%1: \"%2\" is out of range (%3 ms to 2000000 s)")
                             .arg(key, text(value))
                             .arg(lowMs));
            return false;
        }
        *ms = int(whole);
        return true;
    }

    void labels(const YAML::Node &map, QList<std::pair<QString, QString>> *labels)
    {
        static const QRegularExpression form(QStringLiteral("^[a-zA-Z_][a-zA-Z0-9_]*$"));
        for (const auto &[key, value] : pairs(map, QStringLiteral("labels"), {})) {
            const QString name = key.IsScalar() ? text(key) : QString();
            if (!form.match(name).hasMatch())
                fault(key, QStringLiteral("labels: \"%1\" is no label name "
                                          "([a-zA-Z_][a-zA-Z0-9_]*)")
                               .arg(name));
            else if (name.startsWith(QLatin1String("__")))
                fault(
                    key,
                    QStringLiteral("labels: \"%1\": names starting \"__\" are reserved").arg(name));
            else if (OwnLabels.contains(name))
                fault(key,
                      QStringLiteral("labels: \"%1\" is a label of the program's own").arg(name));
            else if (scalar(QStringLiteral("labels: ") + name, value)) {
                const auto old = std::find_if(labels->begin(), labels->end(),
                                              [&](const auto &l) { return l.first == name; });
                if (old != labels->end())
                    old->second = text(value);
                else
                    labels->append({name, text(value)});
            }
        }
    }

    // A key of the settings; false when key is none of them.
    bool setting(const QString &key, const YAML::Node &value, ProbeSettings *s)
    {
        if (key == QLatin1String("protocol") || key == QLatin1String("family")) {
            const QStringList &words = key == QLatin1String("protocol") ? Protocols : Families;
            if (scalar(key, value) && !words.contains(text(value)))
                fault(value, QStringLiteral("%1: \"%2\" is none of %3")
                                 .arg(key, text(value), words.join(QStringLiteral(", "))));
            else if (key == QLatin1String("protocol"))
                s->protocol = text(value);
            else if (value.IsScalar())
                s->family = QList<int>{0, 4, 6}.at(Families.indexOf(text(value)));
        } else if (key == QLatin1String("interval"))
            duration(key, value, 10, &s->intervalMs);
        else if (key == QLatin1String("timeout"))
            duration(key, value, 1, &s->timeoutMs);
        else if (key == QLatin1String("dscp"))
            number(key, value, 0, 63, &s->dscp);
        else if (key == QLatin1String("size"))
            number(key, value, 0, 65507, &s->size);
        else if (key == QLatin1String("source") || key == QLatin1String("interface")) {
            if (scalar(key, value))
                (key == QLatin1String("source") ? s->source : s->interface) = text(value);
        } else if (key == QLatin1String("labels"))
            labels(value, &s->labels);
        else
            return false;
        return true;
    }

    void bothEnds(const YAML::Node &at, const ProbeSettings &s)
    {
        if (!s.source.isEmpty() && !s.interface.isEmpty())
            fault(at, QStringLiteral("source and interface: one of them, not both"));
    }

    TargetEntry target(const YAML::Node &node, const ProbeSettings &defaults)
    {
        TargetEntry entry;
        entry.settings = defaults;
        entry.line = node.Mark().line + 1;
        entry.column = node.Mark().column + 1;
        bool named = false;
        int port = 0;
        for (const auto &[key, value] : pairs(node, QStringLiteral("a target"),
                                              SettingKeys + QStringList{"name", "host", "port"})) {
            const QString k = text(key);
            if (k == QLatin1String("name") && scalar(k, value)) {
                entry.name = text(value);
                named = !entry.name.isEmpty();
            } else if (k == QLatin1String("host") && scalar(k, value))
                entry.host = text(value);
            else if (k == QLatin1String("port") && number(k, value, 1, 65535, &port))
                entry.port = quint16(port);
            else
                setting(k, value, &entry.settings);
        }
        if (node.IsMap() && entry.host.isEmpty())
            fault(node, QStringLiteral("a target: no host"));
        if (node.IsMap() && !node["port"])
            fault(node, QStringLiteral("a target: no port"));
        bothEnds(node, entry.settings);
        if (!named)
            entry.name = DefaultTargetName(entry.host, entry.port);
        return entry;
    }

    RespondEntry respond(const YAML::Node &node)
    {
        RespondEntry entry;
        entry.line = node.Mark().line + 1;
        entry.column = node.Mark().column + 1;
        int port = 0;
        for (const auto &[key, value] :
             pairs(node, QStringLiteral("a respond entry"),
                   {"protocol", "port", "local", "allow", "budget_per_source", "budget"})) {
            const QString k = text(key);
            if (k == QLatin1String("allow")) {
                entry.allow = ranges(value);
                continue;
            }
            if (!scalar(k, value))
                continue;
            if (k.startsWith(QLatin1String("budget"))) {
                QString why;
                const std::optional<AnswerBudget> budget = ReadAnswerBudget(k, text(value), &why);
                if (!budget)
                    fault(value, why.chopped(1));
                (k == QLatin1String("budget") ? entry.total : entry.perSource) = budget;
                continue;
            }
            if (k == QLatin1String("protocol") && !RespondProtocols.contains(text(value)))
                fault(value, QStringLiteral("protocol: \"%1\" is none of %2")
                                 .arg(text(value), RespondProtocols.join(QStringLiteral(", "))));
            else if (k == QLatin1String("protocol"))
                entry.protocol = text(value);
            else if (k == QLatin1String("port") && number(k, value, 1, 65535, &port))
                entry.port = quint16(port);
            else if (k == QLatin1String("local"))
                entry.local = text(value);
        }
        if (node.IsMap() && !node["port"])
            fault(node, QStringLiteral("a respond entry: no port"));
        return entry;
    }

    // A list of CIDRs (or one), each at its place when it is none.
    QList<AddressRange> ranges(const YAML::Node &node)
    {
        QList<AddressRange> found;
        const auto read = [&](const YAML::Node &each) {
            QString why;
            if (!scalar(QStringLiteral("allow"), each))
                return;
            if (const std::optional<AddressRange> range = ReadAddressRange(text(each), &why))
                found.append(*range);
            else
                fault(each, why.mid(2).chopped(1)); // "allow: ...", as the other faults
        };
        if (node.IsScalar())
            read(node);
        else
            list(QStringLiteral("allow"), node, read);
        return found;
    }

    // The entries of a list, each read by read.
    template<typename Read>
    void list(const QString &key, const YAML::Node &node, Read read)
    {
        if (node.IsNull())
            return;
        if (!node.IsSequence()) {
            fault(node, QStringLiteral("%1: a list expected").arg(key));
            return;
        }
        for (const YAML::Node &entry : node)
            read(entry);
    }

private:
    QList<ConfigFault> *m_faults;
};

YAML::Emitter &operator<<(YAML::Emitter &out, const QString &value)
{
    return out << value.toStdString();
}

QString durationText(int ms)
{
    return ms % 1000 == 0 ? QStringLiteral("%1s").arg(ms / 1000) : QStringLiteral("%1ms").arg(ms);
}

// The settings that differ from base (all of them when base is null).
void writeSettings(YAML::Emitter &out, const ProbeSettings &s, const ProbeSettings *base)
{
    const auto differs = [&](auto field) { return !base || s.*field != base->*field; };
    if (differs(&ProbeSettings::protocol))
        out << YAML::Key << "protocol" << YAML::Value << s.protocol;
    if (differs(&ProbeSettings::intervalMs))
        out << YAML::Key << "interval" << YAML::Value << durationText(s.intervalMs);
    if (differs(&ProbeSettings::timeoutMs))
        out << YAML::Key << "timeout" << YAML::Value << durationText(s.timeoutMs);
    if (differs(&ProbeSettings::family))
        out << YAML::Key << "family" << YAML::Value
            << Families.at(s.family == 0   ? 0
                           : s.family == 4 ? 1
                                           : 2);
    if (differs(&ProbeSettings::dscp))
        out << YAML::Key << "dscp" << YAML::Value << s.dscp;
    if (differs(&ProbeSettings::size))
        out << YAML::Key << "size" << YAML::Value << s.size;
    if (!s.source.isEmpty() && differs(&ProbeSettings::source))
        out << YAML::Key << "source" << YAML::Value << s.source;
    if (!s.interface.isEmpty() && differs(&ProbeSettings::interface))
        out << YAML::Key << "interface" << YAML::Value << s.interface;
    QList<std::pair<QString, QString>> labels;
    for (const auto &label : s.labels)
        if (!base || !base->labels.contains(label))
            labels.append(label);
    if (labels.isEmpty() && base)
        return;
    out << YAML::Key << "labels" << YAML::Value << YAML::Flow << YAML::BeginMap;
    for (const auto &[name, value] : labels)
        out << YAML::Key << name << YAML::Value << value;
    out << YAML::EndMap;
}

} // namespace

QString DefaultTargetName(const QString &host, quint16 port)
{
    return HostAndPort(host, port);
}

ResponderLimits RespondEntry::limitsOver(ResponderLimits limits) const
{
    if (allow)
        limits.allow = *allow;
    limits.perSource = perSource.value_or(limits.perSource);
    limits.total = total.value_or(limits.total);
    return limits;
}

void CopySettings(ProbeSettings &to, const ProbeSettings &from, const QStringList &keys)
{
    const auto copy = [&](const char *key, auto field) {
        if (keys.contains(QLatin1String(key)))
            to.*field = from.*field;
    };
    copy("protocol", &ProbeSettings::protocol);
    copy("interval", &ProbeSettings::intervalMs);
    copy("timeout", &ProbeSettings::timeoutMs);
    copy("family", &ProbeSettings::family);
    copy("dscp", &ProbeSettings::dscp);
    copy("size", &ProbeSettings::size);
    copy("source", &ProbeSettings::source);
    copy("interface", &ProbeSettings::interface);
    copy("labels", &ProbeSettings::labels);
}

ServiceConfig ReadServiceConfig(const QByteArray &bytes, QList<ConfigFault> *faults,
                                const ProbeSettings &over, const QStringList &overKeys)
{
    ServiceConfig config;
    Reader reader(faults);
    YAML::Node root;
    try {
        root = YAML::Load(bytes.toStdString());
    } catch (const YAML::ParserException &e) {
        faults->append({e.mark.line + 1, e.mark.column + 1, QString::fromStdString(e.msg)});
        return config;
    }
    const auto top = reader.pairs(root, QStringLiteral("the file"),
                                  {"defaults", "metrics", "web_config", "targets", "respond"});
    const auto find = [&](const char *key) {
        for (const auto &[k, v] : top)
            if (k.Scalar() == key)
                return v;
        return YAML::Node();
    };
    // The defaults first: the targets take them wherever they stand.
    for (const auto &[key, value] :
         reader.pairs(find("defaults"), QStringLiteral("defaults"), SettingKeys))
        reader.setting(text(key), value, &config.defaults);
    CopySettings(config.defaults, over, overKeys);
    reader.bothEnds(find("defaults"), config.defaults);
    if (const YAML::Node metrics = find("metrics");
        !metrics.IsNull() && reader.scalar("metrics", metrics)) {
        static const QRegularExpression form(
            QStringLiteral("^(\\[[0-9a-fA-F:.]+\\]|[^:\\s]+):(\\d+)$"));
        const QRegularExpressionMatch match = form.match(text(metrics));
        if (!match.hasMatch() || match.captured(2).toInt() < 1 || match.captured(2).toInt() > 65535)
            reader.fault(metrics, QStringLiteral("metrics: \"%1\" is not ADDRESS:PORT "
                                                 "(e.g. 127.0.0.1:9464)")
                                      .arg(text(metrics)));
        config.metrics = text(metrics);
        config.metricsLine = metrics.Mark().line + 1;
        config.metricsColumn = metrics.Mark().column + 1;
    }
    if (const YAML::Node web = find("web_config");
        !web.IsNull() && reader.scalar("web_config", web)) {
        config.webConfig = text(web);
        config.webConfigLine = web.Mark().line + 1;
        config.webConfigColumn = web.Mark().column + 1;
    }
    reader.list(QStringLiteral("targets"), find("targets"), [&](const YAML::Node &node) {
        TargetEntry entry = reader.target(node, config.defaults);
        for (const TargetEntry &other : std::as_const(config.targets))
            if (other.name == entry.name)
                reader.fault(node,
                             QStringLiteral("the name \"%1\" is given twice (first at line %2)")
                                 .arg(entry.name)
                                 .arg(other.line));
        config.targets.append(entry);
    });
    reader.list(QStringLiteral("respond"), find("respond"), [&](const YAML::Node &node) {
        const RespondEntry entry = reader.respond(node);
        for (const RespondEntry &other : std::as_const(config.respond))
            if (other.sameAs(entry))
                reader.fault(node,
                             QStringLiteral("%1 port %2 on %3 is given twice (first at line %4)")
                                 .arg(entry.protocol)
                                 .arg(entry.port)
                                 .arg(entry.local)
                                 .arg(other.line));
        config.respond.append(entry);
    });
    // In the order of the file, as an editor goes through them.
    std::stable_sort(faults->begin(), faults->end(), [](const auto &a, const auto &b) {
        return std::pair(a.line, a.column) < std::pair(b.line, b.column);
    });
    return config;
}

QByteArray WriteServiceConfig(const ServiceConfig &config)
{
    YAML::Emitter out;
    out << YAML::BeginMap << YAML::Key << "defaults" << YAML::Value << YAML::BeginMap;
    writeSettings(out, config.defaults, nullptr);
    out << YAML::EndMap;
    if (!config.metrics.isEmpty())
        out << YAML::Key << "metrics" << YAML::Value << YAML::DoubleQuoted << config.metrics;
    if (!config.webConfig.isEmpty())
        out << YAML::Key << "web_config" << YAML::Value << YAML::DoubleQuoted << config.webConfig;
    if (!config.targets.isEmpty()) {
        out << YAML::Key << "targets" << YAML::Value << YAML::BeginSeq;
        for (const TargetEntry &target : config.targets) {
            out << YAML::BeginMap << YAML::Key << "name" << YAML::Value << target.name;
            out << YAML::Key << "host" << YAML::Value << target.host;
            out << YAML::Key << "port" << YAML::Value << target.port;
            writeSettings(out, target.settings, &config.defaults);
            out << YAML::EndMap;
        }
        out << YAML::EndSeq;
    }
    if (!config.respond.isEmpty()) {
        out << YAML::Key << "respond" << YAML::Value << YAML::BeginSeq;
        for (const RespondEntry &entry : config.respond) {
            out << YAML::BeginMap << YAML::Key << "protocol" << YAML::Value << entry.protocol
                << YAML::Key << "port" << YAML::Value << entry.port << YAML::Key << "local"
                << YAML::Value << YAML::DoubleQuoted << entry.local;
            if (entry.allow) {
                out << YAML::Key << "allow" << YAML::Value << YAML::Flow << YAML::BeginSeq;
                for (const AddressRange &range : *entry.allow)
                    out << AddressRangeText(range);
                out << YAML::EndSeq;
            }
            for (const auto &[key, budget] :
                 {std::pair("budget_per_source", entry.perSource), {"budget", entry.total}})
                if (budget)
                    out << YAML::Key << key << YAML::Value
                        << QString::number(budget->rate, 'g', 15) + u'/'
                               + QString::number(budget->burst, 'g', 15);
            out << YAML::EndMap;
        }
        out << YAML::EndSeq;
    }
    out << YAML::EndMap;
    return QByteArray(out.c_str()) + '\n';
}

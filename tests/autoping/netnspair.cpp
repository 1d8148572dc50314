#include "netnspair.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {

const QString Prefix = QStringLiteral("selm2h-");
constexpr int IpTimeoutMs = 5000;

} // namespace

QString NetnsPair::ipPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("ip"), {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
}

bool NetnsPair::ip(const QStringList &args, QString *why, QString *output)
{
    QProcess p;
    p.start(ipPath(), args);
    const bool finished = p.waitForStarted(IpTimeoutMs) && p.waitForFinished(IpTimeoutMs);
    if (!finished) {
        p.kill();
        p.waitForFinished(1000);
    }
    if (output)
        *output = QString::fromUtf8(p.readAllStandardOutput());
    if (finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    if (why)
        *why = QStringLiteral("`ip %1` failed: %2")
                   .arg(args.join(u' '),
                        finished ? QString::fromUtf8(p.readAllStandardError()).trimmed()
                                 : QStringLiteral("no answer in time"));
    return false;
}

void NetnsPair::removeStale()
{
    QString list;
    if (!ip({"netns", "list"}, nullptr, &list))
        return;
    for (const QString &line : list.split(u'\n', Qt::SkipEmptyParts)) {
        const QString name = line.section(u' ', 0, 0);
        if (!name.startsWith(Prefix))
            continue;
        const pid_t pid = name.mid(Prefix.size()).section(u'-', 0, 0).toInt();
        if (pid > 0 && ::kill(pid, 0) == -1 && errno == ESRCH)
            ip({"netns", "delete", name});
    }
}

bool NetnsPair::create(QString *why)
{
    if (::geteuid() != 0) {
        *why = QStringLiteral("network namespaces need root");
        return false;
    }
    if (ipPath().isEmpty()) {
        *why = QStringLiteral("the `ip` program (iproute2) is not installed");
        return false;
    }
    removeStale();
    const QString run = Prefix + QString::number(QCoreApplication::applicationPid());
    m_server = run + QStringLiteral("-srv");
    m_client = run + QStringLiteral("-cli");
    // The veth pair is made inside the namespaces, so its names are the
    // namespaces' own and never meet the host's.
    const QList<QStringList> steps = {
        {"netns", "add", m_server},
        {"netns", "add", m_client},
        {"-n", m_server, "link", "add", "veth0", "type", "veth", "peer", "name", "veth0", "netns", m_client},
        {"-n", m_server, "addr", "add", "10.213.7.1/24", "dev", "veth0"},
        {"-n", m_client, "addr", "add", "10.213.7.2/24", "dev", "veth0"},
        {"-n", m_server, "link", "set", "lo", "up"},
        {"-n", m_client, "link", "set", "lo", "up"},
        {"-n", m_server, "link", "set", "veth0", "up"},
        {"-n", m_client, "link", "set", "veth0", "up"},
    };
    for (const QStringList &step : steps) {
        if (step[0] == QLatin1String("netns"))
            m_made.append(step[2]);
        if (!ip(step, why)) {
            remove();
            return false;
        }
    }
    return true;
}

void NetnsPair::remove()
{
    // Deleting a namespace also deletes its end of the veth pair.
    for (const QString &ns : std::as_const(m_made))
        ip({"netns", "delete", ns});
    m_made.clear();
}

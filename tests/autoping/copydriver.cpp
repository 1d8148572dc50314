#include "copydriver.h"
#include "netnspair.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {
constexpr int StartTimeoutMs = 15000; // generous: sanitizer builds start slowly
constexpr int PollMs = 100;
} // namespace

bool CopyDriver::start(const QString &netns, const QString &programFiles, const QString &computerName,
                       QString *why)
{
    QDir().mkpath(programFiles + QStringLiteral("/Selmarin"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PROGRAMFILES"), programFiles);
    env.insert(QStringLiteral("COMPUTERNAME"), computerName);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessEnvironment(env);
    m_errFile = programFiles + QStringLiteral("/driver.stderr");
    m_process.setStandardErrorFile(m_errFile);
    m_process.start(NetnsPair::ipPath(), {QStringLiteral("netns"), QStringLiteral("exec"), netns,
                                          QStringLiteral(SELMARIN_DRIVER_PATH)});
    const QDeadlineTimer deadline(StartTimeoutMs);
    QStringList said;
    QString line;
    while (readLine(&line, deadline)) {
        if (line == QLatin1String("ready"))
            return true;
        said.append(line);
    }
    QFile err(m_errFile);
    err.open(QIODevice::ReadOnly);
    *why = QStringLiteral("the copy in %1 did not start: %2 %3")
               .arg(netns, said.join(u'\n'), QString::fromUtf8(err.readAll()));
    stop();
    return false;
}

bool CopyDriver::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.write("quit\n");
        m_process.closeWriteChannel(); // the copy also ends at the end of its input
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
            return false;
        }
    }
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

bool CopyDriver::readLine(QString *line, const QDeadlineTimer &deadline)
{
    for (;;) {
        const qsizetype end = m_buffer.indexOf('\n');
        if (end >= 0) {
            *line = QString::fromUtf8(m_buffer.left(end));
            m_buffer.remove(0, end + 1);
            return true;
        }
        if (m_process.state() == QProcess::NotRunning || deadline.hasExpired())
            return false;
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        m_buffer += m_process.readAllStandardOutput();
    }
}

bool CopyDriver::command(const QString &line, QStringList *output, int timeoutMs)
{
    m_error.clear();
    if (m_process.state() != QProcess::Running) {
        m_error = QStringLiteral("the copy is not running");
        return false;
    }
    m_process.write(line.toUtf8() + '\n');
    const QDeadlineTimer deadline(timeoutMs);
    QString answer;
    while (readLine(&answer, deadline)) {
        if (answer == QLatin1String("ok"))
            return true;
        if (answer.startsWith(QLatin1String("error "))) {
            m_error = line + QStringLiteral(": ") + answer.mid(6);
            return false;
        }
        if (output)
            output->append(answer);
    }
    m_error = line + QStringLiteral(": no answer");
    return false;
}

QString CopyDriver::answer(const QString &what)
{
    QStringList said;
    if (command(what, &said))
        for (const QString &l : std::as_const(said))
            if (l.startsWith(what + u' '))
                return l.mid(what.size() + 1);
    return {};
}

QStringList CopyDriver::pane()
{
    QStringList said, lines;
    if (command(QStringLiteral("pane"), &said))
        for (const QString &l : std::as_const(said))
            if (l.startsWith(QLatin1String("| ")))
                lines.append(l.mid(2));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the text after the last line end
    return lines;
}

int CopyDriver::state()
{
    // "<code> shown <code> ...": a state counts once the window shows it.
    const QStringList fields = answer(QStringLiteral("state")).split(u' ');
    bool ok = false;
    const int code = fields.value(0).toInt(&ok);
    return ok && fields.value(2) == fields.value(0) ? code : -1;
}

bool CopyDriver::probeRunning() { return answer(QStringLiteral("state")).endsWith(QLatin1String(" autoping 1 timer2 1")); }

bool CopyDriver::waitForState(int wanted, int timeoutMs)
{
    return QTest::qWaitFor([&] { return state() == wanted; }, timeoutMs);
}

bool CopyDriver::waitForPaneLine(const QString &line, int timeoutMs)
{
    return QTest::qWaitFor([&] { return pane().contains(line); }, timeoutMs);
}

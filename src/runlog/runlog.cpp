#include "runlog.h"

#include "clock.h"
#include "startup/environment.h"
#include "startup/failure.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString firstLineStart(const Environment &env)
{
    return QStringLiteral("Selmarin, running on ") + ComputerName(env);
}

[[noreturn]] void raiseFileError(const QFile &file)
{
    const QFileInfo info(file.fileName());
    if (!info.absoluteDir().exists())
        Raise(rt::PathNotFound);
    switch (file.error()) {
    case QFileDevice::PermissionsError: Raise(rt::PermissionDenied);
    case QFileDevice::ResourceError: Raise(rt::DiskFull);
    case QFileDevice::WriteError: Raise(rt::DeviceIOError);
    default: Raise(rt::FileAccessError);
    }
}

} // namespace

RunLog::RunLog(const Environment &env, const Clock &clock) : m_env(env), m_clock(clock) {}

QString RunLog::buildFileName() const
{
    const QString date = m_clock.shortDate(m_clock.now().date()).replace(u'/', u'-');
    return ProgramFolder(m_env) + ComputerName(m_env) + u'_' + date + QStringLiteral(".log");
}

void RunLog::write(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (m_file.write(bytes) != bytes.size())
        raiseFileError(m_file);
}

bool RunLog::LogOpen()
{
    bool answer = false;
    Guard(QStringLiteral(" in mdlMain.LogOpen; "), [&] {
        m_file.close();
        m_file.setFileName(buildFileName());
        // Existing file: append to it; otherwise create it.  Unbuffered, so
        // every record reaches the file as it is written.
        const auto mode = m_file.exists() ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate;
        if (!m_file.open(mode | QIODevice::Unbuffered))
            raiseFileError(m_file);
        write(firstLineStart(m_env) + QStringLiteral("; started ")
              + m_clock.generalDate(m_clock.now()) + CRLF);
        answer = true;
    });
    if (!answer)
        m_file.close();
    return answer;
}

bool RunLog::LogWrite(const QString &text)
{
    if (!m_file.isOpen() || m_writing)
        return false;
    bool answer = false;
    m_writing = true; // while writing, the report of a failure is not logged again
    const bool wrote = TryRun([&] {
        write(QStringLiteral("-- ") + m_clock.longTime(m_clock.now().time()) + u'\t' + text);
        answer = true;
    }, [&](const RuntimeError &e) {
        ReportError(ModuleSink(), QStringLiteral(" in mdlMain.LogWrite; "), e);
    });
    Q_UNUSED(wrote);
    m_writing = false;
    return answer;
}

bool RunLog::LogClose()
{
    bool answer = false;
    Guard(QStringLiteral(" in mdlMain.LogClose; "), [&] {
        if (!m_file.isOpen())
            Raise(rt::ObjectNotSet);
        write(firstLineStart(m_env) + QStringLiteral("; ended ")
              + m_clock.generalDate(m_clock.now()) + CRLF + CRLF);
        m_file.close();
        answer = true;
    });
    return answer;
}

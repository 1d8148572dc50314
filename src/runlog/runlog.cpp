// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "runlog.h"

#include "base/clock.h"
#include "base/environment.h"
#include "base/msgsink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace {

QString firstLineStart(const Environment &env)
{
    return QStringLiteral("Selmarin, running on ") + ComputerName(env);
}

// The run-time error for errno after a failed open or write of path.
[[noreturn]] void raiseFileError(const QString &path, int error)
{
    if (!QFileInfo(path).absoluteDir().exists())
        Raise(rt::PathNotFound);
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS: Raise(rt::PermissionDenied);
    case ENOSPC:
    case EDQUOT:
    case EFBIG: Raise(rt::DiskFull);
    case EIO: Raise(rt::DeviceIOError);
    default: Raise(rt::FileAccessError);
    }
}

} // namespace

RunLog::RunLog(const Environment &env, const Clock &clock) : m_env(env), m_clock(clock) {}

RunLog::~RunLog()
{
    closeFile();
}

QString RunLog::buildFileName() const
{
    const QString date = m_clock.shortDate(m_clock.now().date()).replace(u'/', u'-');
    return ProgramFolder(m_env) + ComputerName(m_env) + u'_' + date + QStringLiteral(".log");
}

void RunLog::closeFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

// One write(2) for the whole text: with O_APPEND the system puts it at the
// end of the file in one piece, whatever other copies write meanwhile.
void RunLog::write(const QString &text)
{
    writeBytes(text.toUtf8());
}

void RunLog::writeBytes(const QByteArray &bytes)
{
    ssize_t written;
    do
        written = ::write(m_fd, bytes.constData(), size_t(bytes.size()));
    while (written < 0 && errno == EINTR);
    if (written < 0)
        raiseFileError(m_fileName, errno);
    if (written != bytes.size())
        raiseFileError(m_fileName, ENOSPC); // a short write on a regular file: the disk is full
}

bool RunLog::LogOpen(MsgSink &report)
{
    bool answer = false;
    Guard(report, QStringLiteral(" in mdlMain.LogOpen; "), [&] {
        closeFile();
        openFile();
        answer = true;
    });
    if (!answer)
        closeFile();
    return answer;
}

bool RunLog::LogWrite(const QString &text, RuntimeError *failure)
{
    if (!isOpen())
        return false;
    keep(text);
    // Not grouped, the record is written at once: nothing else is kept.
    return m_grouped || flush(failure);
}

// Appends "-- " + the current time + TAB + text to the kept records,
// encoded in place.
void RunLog::keep(const QString &text)
{
    // Many records a second share their time: its bytes are kept.
    if (const QString time = m_clock.longTimeNow(); time != m_keptTime) {
        m_keptTime = time;
        m_keptTimeBytes = time.toUtf8();
        if (m_followsDays)
            followDay();
    }
    const qsizetype at = m_kept.size();
    const qsizetype most = at + 3 + m_keptTimeBytes.size() + 1 + m_utf8.requiredSpace(text.size());
    if (m_kept.capacity() < most)
        m_kept.reserve(std::max(most, 2 * m_kept.capacity()));
    m_kept.resize(most);
    char *out = m_kept.data() + at;
    out = std::copy_n("-- ", 3, out);
    out = std::copy_n(m_keptTimeBytes.constData(), m_keptTimeBytes.size(), out);
    *out++ = '\t';
    out = m_utf8.appendToBuffer(out, text);
    m_kept.truncate(out - m_kept.constData());
}

// A new day: what was kept goes to the old day's file, which ends; the new
// day's begins.  A failure leaves the log closed (the records after it are
// refused, and said so, until it is opened again).
void RunLog::followDay()
{
    const QString today = buildFileName();
    if (today == m_fileName || !isOpen())
        return;
    const bool done = TryRun(
        [&] {
            writeBytes(std::exchange(m_kept, QByteArray()));
            write(firstLineStart(m_env) + QStringLiteral("; ended ")
                  + m_clock.generalDate(m_clock.now()) + CRLF + CRLF);
            closeFile();
            openFile();
        },
        [](const RuntimeError &) {});
    if (!done)
        closeFile();
}

void RunLog::openFile()
{
    m_fileName = buildFileName();
    m_fd = ::open(QFile::encodeName(m_fileName).constData(),
                  O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        raiseFileError(m_fileName, errno);
    write(firstLineStart(m_env) + QStringLiteral("; started ") + m_clock.generalDate(m_clock.now())
          + CRLF);
}

void RunLog::setGrouped(bool grouped, RuntimeError *failure)
{
    if (!grouped)
        flush(failure);
    m_grouped = grouped;
}

bool RunLog::flush(RuntimeError *failure)
{
    if (m_kept.isEmpty())
        return true;
    const QByteArray kept = std::exchange(m_kept, QByteArray());
    if (!isOpen())
        return false;
    return TryRun([&] { writeBytes(kept); },
                  [&](const RuntimeError &e) {
                      if (failure)
                          *failure = e;
                  });
}

QString RunLog::FailedWriteSentence(const RuntimeError &failure)
{
    return QStringLiteral(" in mdlMain.LogWrite; ") + failure.description + CRLF;
}

bool RunLog::LogClose(MsgSink &report)
{
    bool answer = false;
    Guard(report, QStringLiteral(" in mdlMain.LogClose; "), [&] {
        if (!isOpen())
            Raise(rt::ObjectNotSet);
        if (RuntimeError failure; !flush(&failure))
            Raise(failure.number, failure.description);
        write(firstLineStart(m_env) + QStringLiteral("; ended ")
              + m_clock.generalDate(m_clock.now()) + CRLF + CRLF);
        closeFile();
        answer = true;
    });
    return answer;
}

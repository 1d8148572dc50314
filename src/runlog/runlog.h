// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The daily log file: one per machine and day, appended to by every run.
//
//   <PROGRAMFILES>/Selmarin/<COMPUTERNAME>_<short date, "/" -> "-">.log
//
// Each run writes a first line ("Selmarin, running on ...; started ..."), one
// record "-- <long time>\t<pane line>" for every line of the messages pane,
// and a last line followed by an empty line.  Lines end with CR LF; the text
// is UTF-8.
//
// Several copies of the program may share the day's file (two copies on one
// machine, one folder).  So every copy opens it for appending, creating it
// when missing, in one step (O_APPEND | O_CREAT: no existence test that
// another copy could race, nothing truncated), and writes each record with a
// single write(2): the system appends it whole at the end of the file, so the
// records of several copies interleave whole and in time order.  Nothing is
// buffered in the program, so a crash loses at most the record being written.
// A run that writes many records in a burst (the command line's responder
// answering thousands of queries a second) may group them instead
// (setGrouped): each record is stamped when it comes and kept, and flush()
// appends all that were kept with one write(2); a crash then loses at most
// the records since the last flush.
//
// LogOpen and LogClose report their failures as error lines through the sink
// they are given.  LogWrite hands its failure back to its caller (the pane
// writer), which shows it without logging it again; a record is not written
// while the log is not open (start-up has then already said why).

#include "base/failure.h"

#include <QByteArray>
#include <QString>
#include <QStringEncoder>

class Clock;
class Environment;
class MsgSink;

class RunLog
{
public:
    RunLog(const Environment &env, const Clock &clock);
    ~RunLog();
    RunLog(const RunLog &) = delete;
    RunLog &operator=(const RunLog &) = delete;

    bool LogOpen(MsgSink &report);
    // True when the record was written.  False when the log is not open, or
    // when the write failed: then *failure (if given) says why.
    bool LogWrite(const QString &text, RuntimeError *failure = nullptr);
    // What tells of a record the log could not take: the common error
    // line's sentence of LogWrite (its speaker is ErrorSpeaker's), shown to
    // the user and never logged itself.
    static QString FailedWriteSentence(const RuntimeError &failure);
    // A run without a window goes on across midnight: from the first record
    // of a new day on, the log is that day's file (the old one gets its
    // last line, the new one its first), so that every record is in the
    // file of its own date.  The window keeps the file it chose at start.
    void setFollowsDays(bool follows) { m_followsDays = follows; }
    // Grouped: LogWrite keeps the record for flush() (it fails only there).
    // Turning it off flushes.
    void setGrouped(bool grouped, RuntimeError *failure = nullptr);
    // Writes the records kept; false when that failed (*failure says why;
    // they are dropped then, as a failed record is).
    bool flush(RuntimeError *failure = nullptr);
    qsizetype keptBytes() const { return m_kept.size(); }
    bool LogClose(MsgSink &report);

    bool isOpen() const { return m_fd >= 0; }
    // The file name of today's log, as LogOpen builds it.
    QString buildFileName() const;
    // The file LogOpen opened (empty before).
    QString fileName() const { return m_fileName; }

private:
    void write(const QString &text);
    void writeBytes(const QByteArray &bytes);
    void keep(const QString &text);
    void closeFile();
    void openFile();
    void followDay();

    const Environment &m_env;
    const Clock &m_clock;
    QString m_fileName;
    int m_fd = -1;
    bool m_grouped = false;
    bool m_followsDays = false;
    QByteArray m_kept;  // grouped records not written yet
    QString m_keptTime; // the time of the last of them, as text
    QByteArray m_keptTimeBytes;
    QStringEncoder m_utf8{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
};

#pragma once
// The daily log file: one per machine and day, appended to by every run.
//
//   <PROGRAMFILES>/Selmarin/<COMPUTERNAME>_<short date, "/" -> "-">.log
//
// Each run writes a first line ("Selmarin, running on ...; started ..."), one
// record "-- <long time>\t<pane line>" for every line of the messages pane,
// and a last line followed by an empty line.  Lines end with CR LF; the text
// is UTF-8.  Every record goes to the file at once (no buffering in the
// program), so a crash loses at most the record being written.
//
// Failures are reported as error lines in the messages pane.  A record is not
// written while the log is not open (start-up has then already reported why),
// and a failing write does not log its own report, so a log that cannot be
// written never makes the report repeat.

#include <QFile>
#include <QString>

class Clock;
class Environment;

class RunLog
{
public:
    RunLog(const Environment &env, const Clock &clock);

    bool LogOpen();
    bool LogWrite(const QString &text);
    bool LogClose();

    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }

    // The file name of today's log, as LogOpen builds it.
    QString buildFileName() const;

private:
    void write(const QString &text);

    const Environment &m_env;
    const Clock &m_clock;
    QFile m_file;
    bool m_writing = false;
};

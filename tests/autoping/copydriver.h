#pragma once
// One copy of the program in a network namespace: the test driver started
// with `ip netns exec`, its own PROGRAMFILES folder and computer name.  Every
// command waits for the copy's answer, at most a few seconds; the copy is
// ended with this object (asked to quit, then killed).

#include <QDeadlineTimer>
#include <QList>
#include <QProcess>
#include <QStringList>

class CopyDriver
{
public:
    CopyDriver() = default;
    CopyDriver(const CopyDriver &) = delete;
    CopyDriver &operator=(const CopyDriver &) = delete;
    ~CopyDriver() { stop(); }

    // Starts the copy and waits until its main window is shown.
    bool start(const QString &netns, const QString &programFiles, const QString &computerName,
               QString *why);
    // Closes the copy's window as a user would; true when the copy then
    // ended by itself, cleanly.  A copy that does not end is killed.
    bool stop();

    // Sends one command; true on "ok".  The lines the copy wrote before its
    // answer go to output.
    bool command(const QString &line, QStringList *output = nullptr, int timeoutMs = 5000);
    QString lastError() const { return m_error; }

    QStringList pane();     // the messages pane, one entry per line
    int state();            // the socket's state code once the window shows it, else -1
    bool probeRunning();    // the AutoPing flag and its clock both on

    bool waitForState(int state, int timeoutMs);
    bool waitForPaneLine(const QString &line, int timeoutMs);

private:
    bool readLine(QString *line, const QDeadlineTimer &deadline);
    QString answer(const QString &what); // the copy's "<what> ..." line, without the word

    QProcess m_process;
    QByteArray m_buffer;
    QString m_error;
    QString m_errFile;
};

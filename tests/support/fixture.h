// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program as the tests meet it.  This is the only test code that knows
// how the program is put together: how its environment, clock, dialogs and
// adapter list are replaced, how start-up runs, and where the windows, the
// messages pane, the log and the server list are.  Tests use this API, QTest
// input on the real controls (found by their names), the socket class and
// the files on disk.
//
// A Program runs pinned: PROGRAMFILES is a temporary folder with its Selmarin
// folder made, COMPUTERNAME is "PC17", the clock stands at 4 December 2026
// 5:15:09 AM with the date and time formats "M/d/yyyy" and "h:mm:ss AP" (so
// the log is <folder>/PC17_12-4-2026.log and its records start with
// "-- 5:15:09 AM\t"), message boxes are recorded and input boxes answered from
// a script.  One Program exists at a time.  The program's end (its window
// closed, the Program gone) asks the application to quit; openEditor takes
// that request back before it opens the modal editor.

#include "base/environment.h"
#include "columns.h"

// Beside the fixture, the Qt classes most tests use: a test includes only
// what is its own.
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QWidget>
#include <QtTest>

#include <functional>
#include <memory>

// A build with AddressSanitizer: every program runs several times slower,
// and in ./test the fuzz targets run beside its tests, so times mean little.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif

class Session;

// The environment as a test pins it: the variables set, the system's answers.
struct PinnedEnvironment final : Environment
{
    QMap<QString, QString> variables;
    QString host, domain, data;
    std::optional<QString> variable(const QString &name) const override
    {
        return variables.contains(name) ? std::optional(variables.value(name)) : std::nullopt;
    }
    QString hostName() const override { return host; }
    QString localDomain() const override { return domain; }
    QString dataHome() const override { return data; }
};

// Members in this order, so that Program p({.adapters = ..., .headless = true}) works.
struct Setup
{
    // Adapters split by ';', each "addresses|masks", items split by ',' and
    // "_" for an empty item, addresses with a colon IPv6 ones; "fail":
    // asking for them fails; "system": this machine's adapters.
    QString adapters = QStringLiteral("192.0.2.10|255.255.255.0");
    QString programFiles{};                        // empty: a temporary folder
    bool makeFolder = true;                        // make <PROGRAMFILES>/Selmarin
    bool dataHome = false;                         // PROGRAMFILES unset: the per-user data folder
    QString computerName = QStringLiteral("PC17"); // empty: unset
    QString dnsDomain{};                           // USERDNSDOMAIN; empty: unset
    QString hostName = QStringLiteral("testhost"); // the system's answers
    QString localDomain{};
    // No window: the lines the program tells the user are recorded, and the
    // adapter snapshot is taken as start-up takes it (for fuzzing).
    bool headless = false;
};

class Program
{
public:
    explicit Program(const Setup &setup = {});
    ~Program();

    // The start-up sequence; true when it ran to its end and showed the
    // main window (a step that fails may still have shown it, with the report).
    bool start();
    // Headless: a session of the program's core, its state watch running;
    // its lines are pane().
    Session &session();
    // The main window and the address list editor once they exist, else null.
    QWidget *window() const;
    QWidget *editor() const;
    // A control of either window by its name.
    template<typename T = QWidget>
    T *control(const QString &name) const
    {
        return window() ? window()->findChild<T *>(name) : nullptr;
    }
    // A mouse click on a button; text put into a box (as if pasted).
    void click(const QString &name) const;
    void set(const QString &name, const QString &text) const;
    // What a control shows: a button's caption, a box's text; the entries
    // of a combo box or list.
    QString text(const QString &name) const;
    QStringList entries(const QString &name) const;
    // Picks mode and protocol ("server tcp", "client udp"), fills in the
    // local address and port and the remote host and port, and clicks the
    // open button.
    void open(const QString &how, const QStringList &boxes) const;
    // Clicks "Remotes"; whileOpen runs while the (modal) editor is open,
    // which is cancelled afterwards if whileOpen left it open.
    void openEditor(const std::function<void()> &whileOpen);

    // The messages pane as written (line ends CR LF); headless: the lines told.
    QString pane() const;
    void clearPane();
    // Message boxes shown and input box prompts so far; answers for the next input boxes.
    QStringList messages() const;
    QStringList prompts() const;
    void answer(const QStringList &inputs);

    QString folder() const;  // <PROGRAMFILES>/Selmarin/
    QString logPath() const; // today's log
    // The pinned clock moves on to at; the log of a run without a window
    // goes to that day's file.
    void setTime(const QDateTime &at);
    QString log() const;

    bool checkAddress(const QString &text, QString *reason) const;
    bool loadServers();
    bool saveServers(bool overwrite);
    QStringList servers() const;
    void setServers(const QStringList &entries);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The real program without a window, "selmarin <arguments>", in a process of
// its own with no display at all, its log under folder (PROGRAMFILES, with
// its Selmarin folder made; COMPUTERNAME "PC17"), in the network namespace
// ns when one is given, with that many descriptors (its hard limit of open
// files) when they are given.
struct Headless : QProcess
{
    Headless(const QString &folder, const QStringList &arguments, const QString &ns = {},
             int descriptors = 0);
    // Ended on its own (or after SIGTERM) with this status, within 30 s.
    bool endsWith(int status, bool terminate = false);
    QString out() { return QString::fromUtf8(readAllStandardOutput()); }
    QString err() { return QString::fromUtf8(readAllStandardError()); }
};
// The day's log under folder (".../none.log" while there is none).
QString logIn(const QString &folder);

// A loopback port that nothing uses right now.
quint16 freePort(bool udp = false);
QByteArray readFile(const QString &path);
// "ip <arguments>", true when it worked within ten seconds.
bool ip(const QString &arguments);
// A command in a network namespace: its standard output (within 20 s).
QByteArray inHost(const QString &ns, const QStringList &command);
// The room for waiting datagrams (as ss tells it, twice what was asked) of
// the UDP socket bound to port; -1 when there is none.
qint64 datagramRoom(quint16 port);
bool writeFile(const QString &path, const QByteArray &bytes);

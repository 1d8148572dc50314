// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "fixture.h"

#include "app/application.h"
#include "base/failure.h"
#include "console/frmaddress.h"
#include "console/frmmain.h"
#include "servers/serverstore.h"
#include "session/session.h"
#include "wording/sessionlines.h"

#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>

namespace {

struct PinnedClock final : Clock
{
    QDateTime at{QDate(2026, 12, 4), QTime(5, 15, 9)};
    QDateTime now() const override { return at; }
    QString shortDate(const QDate &date) const override
    {
        return QLocale::c().toString(date, "M/d/yyyy");
    }
    QString longTime(const QTime &time) const override
    {
        return QLocale::c().toString(time, "h:mm:ss AP");
    }
};

struct ScriptedDialogs final : Dialogs
{
    QStringList messages, prompts, answers;
    void MsgBox(const QString &prompt) override { messages << prompt; }
    QString InputBox(const QString &prompt, const QString &) override
    {
        prompts << prompt;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};

struct ListedAdapters final : AdapterSource
{
    AdapterSet adapters;
    bool fail = false;
    AdapterSet query() const override
    {
        if (fail)
            Raise(-2147217405, "Access denied");
        return adapters;
    }
};

struct RecordedLines final : MsgSink
{
    QString text;
    void addLine(LineKind, const QString &speaker, const QString &sentence) override
    {
        text += speaker + ":\t" + sentence;
    }
    void ClearMsgsBox() override { text.clear(); }
};

AdapterSet parseAdapters(const QString &text)
{
    const auto items = [](const QString &side) {
        return (side.isEmpty() ? QStringList() : side.split(u',')).replaceInStrings("_", QString());
    };
    AdapterSet set;
    for (const QString &adapter : text.split(u';', Qt::SkipEmptyParts)) {
        const QStringList addresses = items(adapter.section(u'|', 0, 0));
        set.append(Adapter{addresses.filter(QRegularExpression("^[^:]*$")),
                           items(adapter.section(u'|', 1)), addresses.filter(":")});
    }
    return set;
}

// The objects the program makes before its window, without the window: the
// lines they tell the user are recorded.
struct WithoutWindow
{
    explicit WithoutWindow(Seams taken)
        : seams(std::move(taken)),
          adapters(*seams.adapters, *seams.dialogs, lines),
          rules(*seams.env, adapters, lines)
    {
        adapters.CheckConnected(); // the snapshot, as start-up takes it
        for (const QString &name : ProtocolNames())
            tables.Protocol.append(name);
        for (const QString &name : StateNames())
            tables.States.append(name);
    }
    Seams seams;
    NameTables tables;
    RecordedLines lines;
    LocalAdapters adapters;
    AddressRules rules;
    ServerList servers;
    std::unique_ptr<Session> session;
    std::unique_ptr<SessionLines> sessionLines;
};

} // namespace

struct Program::Private
{
    QTemporaryDir temp;
    PinnedEnvironment *env = nullptr;
    PinnedClock *clock = nullptr;
    ScriptedDialogs *dialogs = nullptr;
    std::unique_ptr<Application> app;        // with its window
    std::unique_ptr<WithoutWindow> headless; // or without

    FrmMain *window() const { return app ? app->window() : nullptr; }
    MsgSink &reports() const { return app ? app->lines() : headless->lines; }
    ServerList &servers() const { return app ? app->servers() : headless->servers; }
    QString serversPath() const { return ServersFilePath(*env); }
};

Program::Program(const Setup &setup) : d(std::make_unique<Private>())
{
    auto env = std::make_unique<PinnedEnvironment>();
    const QString programFiles = setup.programFiles.isEmpty() ? d->temp.path() : setup.programFiles;
    if (!setup.dataHome)
        env->variables["PROGRAMFILES"] = programFiles;
    if (setup.makeFolder)
        QDir().mkpath(programFiles + "/Selmarin");
    if (!setup.computerName.isEmpty())
        env->variables["COMPUTERNAME"] = setup.computerName;
    if (!setup.dnsDomain.isEmpty())
        env->variables["USERDNSDOMAIN"] = setup.dnsDomain;
    env->host = setup.hostName;
    env->domain = setup.localDomain;
    env->data = d->temp.path() + "/data";

    Seams seams = Seams::system();
    d->env = env.get();
    seams.env = std::move(env);
    auto clock = std::make_unique<PinnedClock>();
    d->clock = clock.get();
    seams.clock = std::move(clock);
    auto dialogs = std::make_unique<ScriptedDialogs>();
    d->dialogs = dialogs.get();
    seams.dialogs = std::move(dialogs);
    if (setup.adapters != "system") {
        auto adapters = std::make_unique<ListedAdapters>();
        adapters->fail = setup.adapters == "fail";
        adapters->adapters = parseAdapters(adapters->fail ? QString() : setup.adapters);
        seams.adapters = std::move(adapters);
    }
    if (setup.headless)
        d->headless = std::make_unique<WithoutWindow>(std::move(seams));
    else
        d->app = std::make_unique<Application>(std::move(seams));
}

Program::~Program() = default;
bool Program::start()
{
    return d->app->Main();
}
Session &Program::session()
{
    auto &core = *d->headless;
    if (!core.session) {
        core.session = std::make_unique<Session>(core.tables, core.rules);
        core.sessionLines = std::make_unique<SessionLines>(*core.session, core.tables, core.lines);
        core.session->startStateWatch();
    }
    return *core.session;
}
QWidget *Program::window() const
{
    return d->window();
}
QWidget *Program::editor() const
{
    return d->window() ? d->window()->findChild<FrmAddress *>() : nullptr;
}

void Program::click(const QString &name) const
{
    QTest::mouseClick(control<QAbstractButton>(name), Qt::LeftButton);
}

void Program::set(const QString &name, const QString &text) const
{
    QWidget *box = control(name);
    if (auto *combo = qobject_cast<QComboBox *>(box))
        combo->setEditText(text);
    else
        box->setProperty(qobject_cast<QPlainTextEdit *>(box) ? "plainText" : "text", text);
}

QString Program::text(const QString &name) const
{
    QWidget *box = control(name);
    if (auto *combo = qobject_cast<QComboBox *>(box))
        return combo->currentText();
    return box->property(qobject_cast<QPlainTextEdit *>(box) ? "plainText" : "text").toString();
}

QStringList Program::entries(const QString &name) const
{
    QStringList texts;
    if (const auto *combo = control<QComboBox>(name))
        for (int i = 0; i < combo->count(); ++i)
            texts << combo->itemText(i);
    if (const auto *list = control<QListWidget>(name))
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
    return texts;
}

void Program::open(const QString &how, const QStringList &boxes) const
{
    click(how.startsWith("server") ? "optMode_1" : "optMode_0");
    click(how.endsWith("tcp") ? "optProtocol_0" : "optProtocol_1");
    for (int i = 0; i < 4; ++i)
        set(QStringList{"cboLocAddress", "txtLocPort", "cboRemAddress", "txtRemPort"}[i],
            boxes.value(i));
    click("cmdConnect");
}

void Program::openEditor(const std::function<void()> &whileOpen)
{
    // A program that ended before (its window closed, an earlier Program
    // gone) asked the application to quit, and that request would end the
    // editor's event loop at once: a turn of the application's own loop
    // takes it back.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    QTimer::singleShot(0, [this, whileOpen] {
        whileOpen();
        if (auto *dialog = qobject_cast<QDialog *>(editor()); dialog && dialog->isVisible())
            dialog->reject();
    });
    control<QPushButton>("cmdRemotes")->click();
}

QString Program::pane() const
{
    if (d->headless)
        return d->headless->lines.text;
    return d->window() ? d->window()->msgsText() : QString();
}

void Program::clearPane()
{
    d->reports().ClearMsgsBox();
}

QStringList Program::messages() const
{
    return d->dialogs->messages;
}
QStringList Program::prompts() const
{
    return d->dialogs->prompts;
}
void Program::answer(const QStringList &inputs)
{
    d->dialogs->answers = inputs;
}
QString Program::folder() const
{
    return ProgramFolder(*d->env);
}
void Program::setTime(const QDateTime &at)
{
    d->clock->at = at;
    d->app->RotateLog();
}
QString Program::logPath() const
{
    return RunLog(*d->env, *d->clock).buildFileName();
}
QString Program::log() const
{
    return QString::fromUtf8(readFile(logPath()));
}
bool Program::checkAddress(const QString &text, QString *reason) const
{
    return (d->app ? d->app->rules() : d->headless->rules).CheckAddress(text, *reason);
}
bool Program::loadServers()
{
    return LoadServers(d->servers(), d->serversPath(), d->reports());
}
bool Program::saveServers(bool overwrite)
{
    return SaveServers(d->servers(), d->serversPath(),
                       overwrite ? SaveMode::Overwrite : SaveMode::Merge, d->reports());
}
QStringList Program::servers() const
{
    return d->servers().items();
}

void Program::setServers(const QStringList &entries)
{
    d->servers().Clear();
    for (const QString &entry : entries)
        d->servers().Add(entry);
}

Headless::Headless(const QString &folder, const QStringList &arguments, const QString &ns,
                   int descriptors)
{
    if (descriptors > 0)
        setChildProcessModifier([descriptors] {
            const rlimit few{rlim_t(descriptors), rlim_t(descriptors)};
            ::setrlimit(RLIMIT_NOFILE, &few);
        });
    QDir().mkpath(folder + "/Selmarin");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    env.insert("PROGRAMFILES", folder);
    env.insert("COMPUTERNAME", "PC17");
    setProcessEnvironment(env);
    if (ns.isEmpty())
        start(SELMARIN_PROGRAM, arguments);
    else
        start("ip", QStringList{"netns", "exec", ns, SELMARIN_PROGRAM} + arguments);
}

bool Headless::endsWith(int status, bool terminate)
{
    if (terminate)
        ::kill(pid_t(processId()), SIGTERM);
    return (state() == NotRunning || waitForFinished(30000)) && exitStatus() == NormalExit
           && exitCode() == status;
}

QString logIn(const QString &folder)
{
    const QStringList logs = QDir(folder + "/Selmarin").entryList({"PC17_*.log"});
    return folder + "/Selmarin/" + (logs.isEmpty() ? "none.log" : logs[0]);
}

quint16 freePort(bool udp)
{
    QTcpServer tcp;
    QUdpSocket datagrams;
    if (udp)
        return datagrams.bind(QHostAddress::LocalHost) ? datagrams.localPort() : 0;
    return tcp.listen(QHostAddress::LocalHost) ? tcp.serverPort() : 0;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool ip(const QString &arguments)
{
    QProcess process;
    process.start("ip", arguments.split(u' '));
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

QByteArray inHost(const QString &ns, const QStringList &command)
{
    QProcess process;
    process.start("ip", QStringList{"netns", "exec", ns} + command);
    process.waitForFinished(20000);
    return process.readAllStandardOutput();
}

qint64 datagramRoom(quint16 port)
{
    QProcess ss;
    ss.start("ss", {"-Huanm", "sport = :" + QString::number(port)});
    ss.waitForFinished(10000);
    const QRegularExpressionMatch room
        = QRegularExpression(",rb(\\d+),").match(ss.readAllStandardOutput());
    return room.hasMatch() ? room.captured(1).toLongLong() : -1;
}

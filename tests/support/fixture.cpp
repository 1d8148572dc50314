// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "fixture.h"

#include "console/frmmain.h"
#include "netenv/adapters.h"
#include "netenv/checkaddress.h"
#include "runlog/clock.h"
#include "runlog/runlog.h"
#include "servers/frmaddress.h"
#include "servers/serverfile.h"
#include "servers/serverlist.h"
#include "startup/dialogs.h"
#include "startup/environment.h"
#include "startup/failure.h"
#include "startup/globals.h"
#include "startup/startup.h"

#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

namespace {

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

struct PinnedClock final : Clock
{
    QDateTime now() const override { return QDateTime(QDate(2026, 12, 4), QTime(5, 15, 9)); }
    QString shortDate(const QDate &date) const override { return QLocale::c().toString(date, "M/d/yyyy"); }
    QString longTime(const QTime &time) const override { return QLocale::c().toString(time, "h:mm:ss AP"); }
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
    void AddToMsgsBox(const QString &speaker, const QString &sentence) override { text += speaker + ":\t" + sentence; }
};

AdapterSet parseAdapters(const QString &text)
{
    const auto items = [](const QString &side) {
        return (side.isEmpty() ? QStringList() : side.split(u',')).replaceInStrings("_", QString());
    };
    AdapterSet set;
    for (const QString &adapter : text.split(u';', Qt::SkipEmptyParts))
        set.append(Adapter{items(adapter.section(u'|', 0, 0)), items(adapter.section(u'|', 1))});
    return set;
}

Globals &g()
{
    return Globals::instance();
}

} // namespace

struct Program::Private
{
    QTemporaryDir temp;
    PinnedEnvironment *env = nullptr;
    ScriptedDialogs *dialogs = nullptr;
    std::optional<RecordedLines> lines;
};

Program::Program(const Setup &setup) : d(std::make_unique<Private>())
{
    Globals::reset();
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
    d->env = env.get();
    g().setEnvironment(std::move(env));
    g().setClock(std::make_unique<PinnedClock>());
    auto dialogs = std::make_unique<ScriptedDialogs>();
    d->dialogs = dialogs.get();
    g().setDialogs(std::move(dialogs));
    if (setup.adapters != "system") {
        auto adapters = std::make_unique<ListedAdapters>();
        adapters->fail = setup.adapters == "fail";
        adapters->adapters = parseAdapters(adapters->fail ? QString() : setup.adapters);
        g().setAdapterSource(std::move(adapters));
    }
    if (setup.headless) {
        g().setMsgSink(&d->lines.emplace());
        g().adapterSet = g().adapterSource().query();
    }
}

Program::~Program() { Globals::reset(); }
bool Program::start() { return Main(); }
QWidget *Program::window() const { return g().hasFrmMain() ? &g().frmMain() : nullptr; }
QWidget *Program::editor() const { return g().hasFrmAddress() ? &g().frmAddress() : nullptr; }

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
        set(QStringList{"cboLocAddress", "txtLocPort", "cboRemAddress", "txtRemPort"}[i], boxes.value(i));
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
    if (d->lines)
        return d->lines->text;
    return window() ? g().frmMain().msgsText() : QString();
}

void Program::clearPane()
{
    if (d->lines)
        d->lines->text.clear();
    else if (window())
        g().frmMain().AddToMsgsBox("cls", QString());
}

QStringList Program::messages() const { return d->dialogs->messages; }
QStringList Program::prompts() const { return d->dialogs->prompts; }
void Program::answer(const QStringList &inputs) { d->dialogs->answers = inputs; }
QString Program::folder() const { return ProgramFolder(*d->env); }
QString Program::logPath() const { return g().LogStream().buildFileName(); }
QString Program::log() const { return QString::fromUtf8(readFile(logPath())); }
bool Program::checkAddress(const QString &text, QString *reason) const { return CheckAddress(text, *reason); }
bool Program::loadServers() { return LoadServers(g().serverList()); }
bool Program::saveServers(bool overwrite) { return SaveServers(g().serverList(), overwrite ? SaveMode::Overwrite : SaveMode::Merge); }
QStringList Program::servers() const { return g().serverList().items(); }

void Program::setServers(const QStringList &entries)
{
    g().serverList().Clear();
    for (const QString &entry : entries)
        g().serverList().Add(entry);
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

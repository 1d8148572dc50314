#include "fakes.h"

#include "startup/failure.h"
#include "startup/globals.h"

#include <QLocale>

std::optional<QString> FakeEnvironment::variable(const QString &name) const
{
    if (!variables.contains(name))
        return std::nullopt;
    return variables.value(name);
}

QString FixedClock::shortDate(const QDate &date) const
{
    return QLocale::c().toString(date, dateFormat);
}

QString FixedClock::longTime(const QTime &time) const
{
    return QLocale::c().toString(time, timeFormat);
}

QString RecordingSink::text() const
{
    QString all;
    for (const PaneLine &line : lines)
        all += line.text();
    return all;
}

void ScriptedDialogs::MsgBox(const QString &prompt)
{
    messages.append(prompt);
    if (onMsgBox)
        onMsgBox();
}

QString ScriptedDialogs::InputBox(const QString &prompt, const QString &)
{
    prompts.append(prompt);
    return answers.isEmpty() ? QString() : answers.takeFirst();
}

AdapterSet FakeAdapterSource::query() const
{
    ++queries;
    if (fail)
        Raise(-2147217405, QStringLiteral("Access denied"));
    return adapters;
}

TestGlobals::TestGlobals(bool recordSink)
{
    Globals::reset();
    Globals &g = Globals::instance();
    auto e = std::make_unique<FakeEnvironment>();
    auto c = std::make_unique<FixedClock>();
    auto d = std::make_unique<ScriptedDialogs>();
    auto a = std::make_unique<FakeAdapterSource>();
    env = e.get();
    clock = c.get();
    dialogs = d.get();
    adapters = a.get();
    g.setEnvironment(std::move(e));
    g.setClock(std::move(c));
    g.setDialogs(std::move(d));
    g.setAdapterSource(std::move(a));
    for (const QString &name : ProtocolNames())
        g.Protocol.append(name);
    for (const QString &name : StateNames())
        g.States.append(name);
    if (recordSink)
        g.setMsgSink(&sink);
}

TestGlobals::~TestGlobals()
{
    Globals::reset();
}

Adapter MakeAdapter(const QStringList &addresses, const QStringList &masks)
{
    return Adapter{addresses, masks};
}

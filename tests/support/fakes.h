#pragma once
// Stand-ins for the program's seams: a pinned environment, a pinned clock and
// date formats, a recording messages pane, scripted dialogs and a fixed
// adapter snapshot.  TestGlobals installs them on fresh global objects.

#include "netenv/adapters.h"
#include "runlog/clock.h"
#include "startup/dialogs.h"
#include "startup/environment.h"
#include "startup/msgsink.h"

#include <QMap>
#include <QStringList>

#include <functional>

class FakeEnvironment final : public Environment
{
public:
    QMap<QString, QString> variables;
    QString host = QStringLiteral("testhost");
    QString domain;
    QString data = QStringLiteral("/nonexistent-data-home");

    std::optional<QString> variable(const QString &name) const override;
    QString hostName() const override { return host; }
    QString localDomain() const override { return domain; }
    QString dataHome() const override { return data; }
};

class FixedClock final : public Clock
{
public:
    QDateTime at = QDateTime(QDate(2026, 12, 4), QTime(5, 15, 9));
    QString dateFormat = QStringLiteral("M/d/yyyy");
    QString timeFormat = QStringLiteral("h:mm:ss AP");

    QDateTime now() const override { return at; }
    QString shortDate(const QDate &date) const override;
    QString longTime(const QTime &time) const override;
};

struct PaneLine
{
    QString speaker;
    QString sentence;
    QString text() const { return speaker + u':' + u'\t' + sentence; }
};

class RecordingSink final : public MsgSink
{
public:
    QList<PaneLine> lines;
    void AddToMsgsBox(const QString &speaker, const QString &sentence) override
    {
        lines.append({speaker, sentence});
    }
    QString text() const;
};

// Answers the dialogs from a script; records what was asked.
class ScriptedDialogs final : public Dialogs
{
public:
    QStringList messages;              // every message box's text
    QStringList prompts;               // every input box's prompt
    QStringList answers;               // input box answers, taken in order ("" when empty)
    std::function<void()> onMsgBox;    // runs inside a message box, if set

    void MsgBox(const QString &prompt) override;
    QString InputBox(const QString &prompt, const QString &defaultText) override;
};

class FakeAdapterSource final : public AdapterSource
{
public:
    AdapterSet adapters;
    bool fail = false;
    mutable int queries = 0;
    AdapterSet query() const override;
};

// Fresh global objects with the fakes in place; the name tables filled as
// start-up fills them.  Pointers stay owned by the globals.
struct TestGlobals
{
    FakeEnvironment *env = nullptr;
    FixedClock *clock = nullptr;
    ScriptedDialogs *dialogs = nullptr;
    FakeAdapterSource *adapters = nullptr;
    RecordingSink sink;

    // With recordSink, module procedures write into `sink` instead of the
    // main window.
    explicit TestGlobals(bool recordSink = true);
    ~TestGlobals();
};

// One adapter with the given addresses and masks.
Adapter MakeAdapter(const QStringList &addresses, const QStringList &masks);

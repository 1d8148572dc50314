#include "globals.h"

#include "dialogs.h"
#include "environment.h"
#include "failure.h"
#include "console/frmmain.h"
#include "netenv/adapters.h"
#include "runlog/clock.h"
#include "runlog/runlog.h"
#include "servers/frmaddress.h"
#include "servers/serverlist.h"

namespace {
std::unique_ptr<Globals> &slot()
{
    static std::unique_ptr<Globals> globals;
    return globals;
}
} // namespace

Globals &Globals::instance()
{
    auto &g = slot();
    if (!g)
        g = std::make_unique<Globals>();
    return *g;
}

void Globals::reset()
{
    auto &g = slot();
    if (!g)
        return;
    // The windows go first, while the objects they use on their way out (the
    // socket, the log) are still reachable through instance().
    // Reports made while they close go nowhere: they must not make a new window.
    g->m_windowsClosing = true;
    g->m_frmAddress.reset();
    g->m_frmMain.reset();
    g.reset();
}

Globals::Globals() = default;

Globals::~Globals() = default;

RunLog &Globals::LogStream()
{
    if (!m_log)
        m_log = std::make_unique<RunLog>(env(), clock());
    return *m_log;
}

ServerList &Globals::serverList()
{
    if (!m_serverList)
        m_serverList = std::make_unique<ServerList>();
    return *m_serverList;
}

QDomDocument &Globals::XmlDoc()
{
    if (!m_xmlDoc)
        m_xmlDoc = std::make_unique<QDomDocument>();
    return *m_xmlDoc;
}

FrmMain &Globals::frmMain()
{
    if (!m_frmMain) {
        // The load may itself write pane lines, which come back here: they
        // find the window made and go on into its pane.
        m_frmMain = std::make_unique<FrmMain>();
        m_frmMain->Form_Load();
    }
    return *m_frmMain;
}

FrmAddress &Globals::frmAddress()
{
    if (!m_frmAddress)
        m_frmAddress = std::make_unique<FrmAddress>(frmMain().window());
    return *m_frmAddress;
}

MsgSink &Globals::msgs()
{
    if (m_sinkOverride)
        return *m_sinkOverride;
    if (m_windowsClosing) {
        static class : public MsgSink
        {
            void AddToMsgsBox(const QString &, const QString &) override {}
        } nowhere;
        return nowhere;
    }
    return frmMain();
}

MsgSink &ModuleSink()
{
    return Globals::instance().msgs();
}

Environment &Globals::env()
{
    if (!m_env)
        m_env = std::make_unique<SystemEnvironment>();
    return *m_env;
}

Clock &Globals::clock()
{
    if (!m_clock)
        m_clock = std::make_unique<SystemClock>();
    return *m_clock;
}

Dialogs &Globals::dialogs()
{
    if (!m_dialogs)
        m_dialogs = std::make_unique<QtDialogs>();
    return *m_dialogs;
}

AdapterSource &Globals::adapterSource()
{
    if (!m_adapterSource)
        m_adapterSource = std::make_unique<SystemAdapterSource>();
    return *m_adapterSource;
}

void Globals::setEnvironment(std::unique_ptr<Environment> env)
{
    m_env = std::move(env);
}

void Globals::setClock(std::unique_ptr<Clock> clock)
{
    m_clock = std::move(clock);
}

void Globals::setDialogs(std::unique_ptr<Dialogs> dialogs)
{
    m_dialogs = std::move(dialogs);
}

void Globals::setAdapterSource(std::unique_ptr<AdapterSource> source)
{
    m_adapterSource = std::move(source);
}

#pragma once
// The program's global objects: made on first use, kept for the whole run.
//
// One Globals instance owns them all:
//   frmMain, frmAddress  the two windows (made on first use; making frmMain
//                        also loads it, see FrmMain::Form_Load)
//   LogStream            the daily log (RunLog)
//   ServerList, XmlDoc   the server list and the document of its file
//   LocIPs, AdapterSet   the machine's addresses and the adapter snapshot
//                        (taken from the adapter source)
// Files are reached through Qt's file classes and the address rules test
// characters directly, so no file-system or pattern objects are kept.
// And the seams that tests replace: the environment, the clock and date
// formats, the dialogs and the adapter source.

#include "nametables.h"

#include <QDomDocument>
#include <QStringList>

#include <memory>
#include <optional>

class AdapterSource;
class Clock;
class Dialogs;
class Environment;
class FrmAddress;
class FrmMain;
class MsgSink;
class RunLog;
class ServerList;
struct Adapter;
using AdapterSet = QList<Adapter>;

class Globals
{
public:
    static Globals &instance();
    // Tests: drop every object and start again with the system's seams.
    static void reset();

    Globals();
    ~Globals();
    Globals(const Globals &) = delete;
    Globals &operator=(const Globals &) = delete;

    NameTable Protocol;
    NameTable States;
    QStringList LocIPs;
    // Empty until CheckConnected has taken the snapshot.
    std::optional<AdapterSet> adapterSet;

    RunLog &LogStream();
    ServerList &serverList();
    QDomDocument &XmlDoc();

    // The main window; the first use makes it and runs its load.
    FrmMain &frmMain();
    bool hasFrmMain() const { return m_frmMain != nullptr; }
    // The address list editor; made on its first opening.
    FrmAddress &frmAddress();
    bool hasFrmAddress() const { return m_frmAddress != nullptr; }

    // Where module procedures write their lines: the main window, unless a
    // test has put a sink of its own in its place.
    MsgSink &msgs();
    void setMsgSink(MsgSink *sink) { m_sinkOverride = sink; }

    Environment &env();
    Clock &clock();
    Dialogs &dialogs();
    AdapterSource &adapterSource();
    // The seams are set before the objects that use them are made.
    void setEnvironment(std::unique_ptr<Environment> env);
    void setClock(std::unique_ptr<Clock> clock);
    void setDialogs(std::unique_ptr<Dialogs> dialogs);
    void setAdapterSource(std::unique_ptr<AdapterSource> source);

private:
    std::unique_ptr<Environment> m_env;
    std::unique_ptr<Clock> m_clock;
    std::unique_ptr<Dialogs> m_dialogs;
    std::unique_ptr<AdapterSource> m_adapterSource;
    std::unique_ptr<RunLog> m_log;
    std::unique_ptr<ServerList> m_serverList;
    std::unique_ptr<QDomDocument> m_xmlDoc;
    std::unique_ptr<FrmMain> m_frmMain;
    std::unique_ptr<FrmAddress> m_frmAddress;
    MsgSink *m_sinkOverride = nullptr;
    bool m_windowsClosing = false;
};

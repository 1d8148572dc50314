#include "startup.h"

#include "failure.h"
#include "globals.h"
#include "console/frmmain.h"
#include "netenv/localadapters.h"
#include "runlog/runlog.h"
#include "servers/serverfile.h"

bool Main()
{
    Globals &g = Globals::instance();
    QString step;
    bool shown = false;
    TryRun([&] {
        step = QStringLiteral("adding protocol defs to 'Protocol'");
        for (const QString &name : ProtocolNames())
            g.Protocol.append(name);

        step = QStringLiteral("adding Winsock 'State' defs to 'States'");
        for (const QString &name : StateNames())
            g.States.append(name);

        step = QStringLiteral("checking to see if we can open the logfile");
        if (!g.LogStream().LogOpen()) {
            step = QStringLiteral("raising the file open error");
            Raise(rt::ProgramError, QStringLiteral("Couldn't open the log file"));
        }

        step = QStringLiteral("checking to see if we are connected");
        if (!CheckConnected())
            return;

        step = QStringLiteral("trying to load the remoteservers list");
        LoadServers(g.serverList());

        step = QStringLiteral("checking the local IP list");
        if (!GetLocIPs()) {
            step = QStringLiteral("raising the local ip error");
            Raise(rt::ProgramError, QStringLiteral("Couldn't read the local IP list.."));
        }

        step = QStringLiteral("showing frmMain");
        g.frmMain().show();
        shown = true;
    }, [&](const RuntimeError &e) {
        g.msgs().AddToMsgsBox(ErrorSpeaker(e.number),
                              QStringLiteral(" in mdlMain.Main; ") + e.description + CRLF + step);
    });
    return shown;
}

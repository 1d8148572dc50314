#include "localadapters.h"

#include "adapters.h"
#include "startup/dialogs.h"
#include "startup/failure.h"
#include "startup/globals.h"

bool CheckConnected()
{
    Globals &g = Globals::instance();
    bool answer = false;
    QString step;
    TryRun([&] {
        step = QStringLiteral("connecting to the local WMI server");
        AdapterSource &source = g.adapterSource();
        step = QStringLiteral("getting IP-enabled NICs");
        g.adapterSet = source.query();
        step = QStringLiteral("enumerating the NICs");
        for (const Adapter &adapter : *g.adapterSet) {
            step = QStringLiteral("checking for empty Subnet masks");
            for (const QString &mask : adapter.IPSubnet) {
                if (!mask.isEmpty()) {
                    answer = true;
                    break;
                }
            }
            if (answer)
                break;
        }
        if (!answer)
            g.dialogs().MsgBox(QStringLiteral(
                "I can't find an active network connection; check your connections and restart me."));
    }, [&](const RuntimeError &e) {
        g.msgs().AddToMsgsBox(ErrorSpeaker(e.number), QStringLiteral(" in mdlMain.CheckConnected; ")
                                                          + e.description + CRLF + step);
    });
    return answer;
}

bool GetLocIPs()
{
    Globals &g = Globals::instance();
    bool answer = false;
    Guard(QStringLiteral(" in mdlMain.GetLocIPs; "), [&] {
        g.LocIPs.clear();
        const AdapterSet adapters = g.adapterSource().query();
        for (const Adapter &adapter : adapters)
            g.LocIPs.append(adapter.IPAddress);
        answer = !g.LocIPs.isEmpty();
    });
    return answer;
}

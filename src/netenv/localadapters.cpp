// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "localadapters.h"

#include "base/dialogs.h"
#include "base/failure.h"

LocalAdapters::LocalAdapters(const AdapterSource &source, Dialogs &dialogs, MsgSink &report)
    : m_source(source), m_dialogs(dialogs), m_report(report)
{}

bool LocalAdapters::CheckConnected()
{
    bool answer = false;
    QString step;
    TryRun(
        [&] {
            // The system's interface list needs no connection to a service, so
            // the first step is the query itself.
            step = QStringLiteral("getting IP-enabled NICs");
            m_adapterSet = m_source.query();
            step = QStringLiteral("enumerating the NICs");
            for (const Adapter &adapter : *m_adapterSet) {
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
            // A machine with IPv6 addresses only is connected as well; IPv6
            // addresses have no masks.
            for (const Adapter &adapter : *m_adapterSet)
                answer = answer || !adapter.IPv6Address.isEmpty();
            if (!answer)
                m_dialogs.MsgBox(QStringLiteral("I can't find an active network connection; check "
                                                "your connections and restart me."));
        },
        [&](const RuntimeError &e) {
            m_report.AddComplaint(ErrorSpeaker(e.number),
                                  QStringLiteral(" in mdlMain.CheckConnected; ") + e.description
                                      + CRLF + step);
        });
    return answer;
}

bool LocalAdapters::GetLocIPs()
{
    bool answer = false;
    Guard(m_report, QStringLiteral(" in mdlMain.GetLocIPs; "), [&] {
        m_locIPs.clear();
        const AdapterSet adapters = m_source.query();
        for (const Adapter &adapter : adapters)
            m_locIPs.append(adapter.IPAddress);
        for (const Adapter &adapter : adapters)
            m_locIPs.append(adapter.IPv6Address);
        answer = !m_locIPs.isEmpty();
    });
    return answer;
}

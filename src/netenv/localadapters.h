// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The machine's own adapters: the start-up check for an active connection,
// which takes the adapter snapshot, and the list of own addresses.

#include "adapters.h"

#include <QStringList>

#include <optional>

class Dialogs;
class MsgSink;

class LocalAdapters
{
public:
    LocalAdapters(const AdapterSource &source, Dialogs &dialogs, MsgSink &report);

    // True when at least one adapter of the snapshot has a non-empty subnet
    // mask or an IPv6 address.  Takes the snapshot.  Without such an adapter
    // it shows the "can't find an active network connection" message box.
    bool CheckConnected();

    // Rebuilds LocIPs from the system's adapters (read afresh at every call):
    // every adapter's IPv4 addresses, then every adapter's IPv6 addresses;
    // true when it holds at least one address afterwards.
    bool GetLocIPs();

    // Empty until CheckConnected has taken the snapshot.
    const std::optional<AdapterSet> &adapterSet() const { return m_adapterSet; }
    const QStringList &LocIPs() const { return m_locIPs; }

private:
    const AdapterSource &m_source;
    Dialogs &m_dialogs;
    MsgSink &m_report;
    std::optional<AdapterSet> m_adapterSet;
    QStringList m_locIPs;
};

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The ICMP message the system reported about a socket's packets (the
// socket asked for its error reports, udp/errorqueue.h), and who sent it as
// the classes of a failure need it.  A connection attempt and a diagnosis'
// knock both read it here.

#include "base/icmpseen.h"

// Takes every report waiting on fd and keeps the first ICMP message among
// them (base/icmpseen.h), its words filled in; present false when none.
IcmpSeen TakeIcmp(int fd);

// Who sent a message about an attempt to target: this machine (nobody
// answered on its link), the host saying that its port is closed, or
// anyone else (a router on the way, or the host's own firewall: a
// rejection).
enum class IcmpSender { ThisMachine, ClosedPort, Rejecting };
IcmpSender SaidBy(const IcmpSeen &icmp, const QString &target);

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The rules for remote host texts.  Each answers true when the text may be
// used; on false, message holds the reason.  message is left untouched on true
// and after a failure, which is reported as an error line through the sink
// the rules were given (" in mdlMain.CheckAddress; " and so on).
//
// The machine's own names come from the environment at every call, its own
// addresses and subnet masks from the adapter snapshot taken at start-up.

#include "adapters.h"

#include <QString>
#include <QStringList>

class Environment;
class LocalAdapters;
class MsgSink;

class AddressRules
{
public:
    AddressRules(const Environment &env, const LocalAdapters &adapters, MsgSink &report);

    // Host texts as typed by the user (no trimming): NetBIOS names (no dot,
    // at most 15 characters), domain names (at most 128 characters, top-level
    // label not numeric) and dotted addresses, which go to CheckIP.  The
    // machine's own names (COMPUTERNAME, and COMPUTERNAME.USERDNSDOMAIN) are
    // refused.  A text with a colon, which no name holds, is an IPv6 literal
    // and goes to CheckIPv6 before the character rule.
    bool CheckAddress(const QString &address, QString &message) const;

    // Dotted IPv4 addresses (texts of digits and dots only): refuses the
    // machine's own addresses, first octets 0, 127, 224 and above, octets
    // outside 0 to 255 (an empty octet after the first included) and
    // broadcast addresses.  An empty or oversized first octet is a reported
    // failure (false).
    bool CheckIP(const QString &ip, QString &message) const;

    // IPv6 literals, in brackets or not, with an optional "%zone" (ASCII
    // letters, digits, "-", "_", "."): refuses the machine's own addresses
    // (a link-local one on the same zone), the unspecified address ::,
    // loopback ::1, multicast ff00::/8 and a link-local address (fe80::/10)
    // without a zone.  An IPv4-mapped address (::ffff:a.b.c.d) is judged by
    // CheckIP as a.b.c.d.  A text that is no well-formed literal gets the
    // character message of CheckAddress.
    bool CheckIPv6(const QString &address, QString &message) const;

    // True when the octets form a broadcast address under one of the
    // machine's subnet masks: in each of the first four octets, the bits that
    // the mask leaves clear are all ones or all zeros.  Masks
    // "255.255.255.255" count as tested but never match; empty masks are
    // skipped; when nothing was tested at all, every address counts.  A
    // failure (fewer than four octets when a mask is tested, a malformed
    // mask, no snapshot) is reported and answers true.
    bool CheckIsBcst(const QStringList &octets) const;

private:
    const AdapterSet &snapshot() const;
    static QString characterMessage();

    const Environment &m_env;
    const LocalAdapters &m_adapters;
    MsgSink &m_report;
};

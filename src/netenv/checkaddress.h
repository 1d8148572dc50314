#pragma once
// The rules for remote host texts.  Each answers true when the text may be
// used; on false, message holds the reason (message is left untouched on true
// and after a reported failure).

#include <QString>
#include <QStringList>

// Host names, domain names and dotted addresses as typed by the user.
bool CheckAddress(const QString &address, QString &message);

// Dotted IPv4 addresses (texts of digits and dots only).
bool CheckIP(const QString &ip, QString &message);

// True when the octets form a broadcast address under one of the machine's
// subnet masks (read from the adapter snapshot).
bool CheckIsBcst(const QStringList &octets);

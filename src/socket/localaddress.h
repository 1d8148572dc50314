#pragma once
// IPv4 address helpers of the socket.

#include <QHostAddress>
#include <QString>

// The machine's primary IPv4 address: the first IPv4 address of the first
// interface that is up, running and not a loopback; "127.0.0.1" when there
// is none.
QString PrimaryIPv4();

// The dotted text of an IPv4 address (an IPv4-mapped IPv6 address counts);
// an empty text for anything else.
QString DottedIPv4(const QHostAddress &address);

// True when text is a dotted IPv4 address that needs no name look-up.
bool ParseDottedIPv4(const QString &text, QHostAddress *address);

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The command line.  With no arguments the program opens its window.  A
// command runs it without any window or display:
//
//   selmarin respond --tcp|--udp|--tls --port N [--local ADDRESS] [--cert FILE --key FILE]
//   selmarin probe --tcp|--udp|--tls HOST PORT [--count N] [--local-port P]
//                  [--insecure] [--cacert FILE] [--cert FILE [--key FILE]]
//   selmarin --help | --version
//
// Arguments that begin with "-" and are not ours (Qt's own, such as
// "-platform offscreen") leave the choice to the window.

#include <QString>
#include <QStringList>

struct Command
{
    enum Kind { Window, Respond, Probe, Help, Version, Usage };
    Kind kind = Window;
    bool tcp = true;
    QString port;  // respond: the local port; probe: the remote port
    QString local; // respond: the local address ("::": every address of both families)
    QString host;  // probe: the remote host
    QString localPort = QStringLiteral("0");
    int count = 0; // probe: queries to send; 0 = until stopped
    QString error; // Usage: what is wrong, one line
    // TLS (tcp is true as well): the choices as curl names them.
    bool tls = false;
    bool insecure = false; // probe: accept a certificate that does not verify
    QString cacert;        // probe: trust these certificates instead of the system's
    QString cert;          // its own certificate (respond: instead of the program folder's)
    QString key;           // and its key
    QString folder;        // the program folder, set by main: the server's own files
};

// arguments as main() has them, the program's name first.
Command ParseCommandLine(const QStringList &arguments);

// The text --help prints.
QString UsageText();

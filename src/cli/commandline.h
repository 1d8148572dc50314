// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The command line.  With no arguments the program opens its window.  A
// command runs it without any window or display:
//
//   selmarin respond --tcp|--udp|--tls --port N [--local ADDRESS] [--cert FILE --key FILE]
//                    [--allow CIDR[,CIDR...]] [--budget-per-source R[/B]] [--budget R[/B]]
//   selmarin respond --stamp [--port N] [--local ADDRESS] [the same --allow and budgets]
//   selmarin probe --tcp|--udp|--tls HOST PORT [-c N] [-i S] [-W S] [-w S] [-q]
//                  [-I ADDRESS] [--local-port P] [--keep-going] [--json | --json-stream]
//                  [--insecure] [--cacert FILE] [--cert FILE [--key FILE]]
//   selmarin probe --connect [--tcp] HOST PORT [the same options]
//   selmarin load --udp|--tcp|--tls HOST PORT [--rate R] [--size B] [-t S|-c N]
//                 [--burst N] [--warmup S] [-q] [--json] [-I ADDRESS] [TLS choices]
//   selmarin diagnose [--tcp|--udp|--tls] HOST PORT [--json] [--hops] [-W S]
//                     [--max-hops N] [-I ADDRESS] [--insecure] [--cacert FILE]
//   selmarin probe|respond --config FILE [the options over its defaults] [--print-config]
//   selmarin check-config FILE
//   selmarin --help | --version
//
// The options are a table (commandline.cpp); a value follows its option
// ("--count 5", "-c 5"), is joined to it ("--count=5", "-c5", as ping takes
// it).  Arguments that begin with a single "-" and are not ours (Qt's own,
// such as "-platform offscreen") leave the choice to the window; anything
// else that is wrong is a usage error, and no window opens.  Targets are
// compared and named with an IPv6 address in one written form, without
// brackets, and ports as numbers.

#include "base/responderlimits.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

struct Command
{
    enum Kind { Window, Respond, Probe, Diagnose, Help, Version, Usage, Load, CheckConfig };
    Kind kind = Window;
    bool tcp = true;
    bool stamp = false; // respond --stamp: the two-way measurement's reflector (UDP)
    quint16 port = 0;   // respond: the local port; probe: the remote port (0: none given)
    QString local;      // respond: the local address ("::": every address of both families)
    QString host;       // probe: the remote host (of the first target)
    QList<std::pair<QString, quint16>> targets; // probe: HOST PORT of every target
    quint16 serversPort = 0; // probe --servers: the port of the saved server list's hosts
    quint16 localPort = 0;
    QString source;           // probe, diagnose: the local address to leave from (-I)
    QString device;           // probe: the interface to leave from (-I NAME)
    int family = 0;           // probe: the family a name is looked up in (-4, -6); 0: either
    int tos = -1;             // probe: the TOS byte of every query (-Q); -1: the system's
    int payloadSize = 0;      // probe: the query's size in bytes (-s); 0: the protocol's own
    int count = 0;            // probe: queries to send; 0 = until stopped
    int intervalMs = 1000;    // probe: between two queries (-i), at least 10 ms
    int timeoutMs = 2000;     // probe: how long an answer may take (-W)
    int deadlineMs = 0;       // probe: the run ends after this long (-w); 0: never
    bool quiet = false;       // probe: the summary only (-q)
    bool keepGoing = false;   // probe: a lost connection is made again
    bool connectOnly = false; // probe --connect: the time a TCP connection takes
    bool json = false;        // probe: the summary as JSON, and nothing else on stdout
    bool jsonStream = false;  // probe: a JSON object a line as things happen, lines to stderr
    bool everyQuery = false;  // a line for every query even with several targets, and respond
    bool hops = false;        // diagnose: the hops even when the port is open
    int maxHops = 16;         // diagnose: the highest hop limit of the sweep
    QString metrics;          // ADDRESS:PORT of the metrics endpoint; empty: none
    QString webConfig;        // its web configuration (TLS, passwords); empty: none
    QString error;            // Usage: what is wrong, one line
    // TLS (tcp is true as well): the choices as curl names them.
    bool tls = false;
    bool insecure = false; // probe, diagnose: accept a certificate that does not verify
    QString cacert;        // probe, diagnose: trust these certificates instead of the system's
    QString cert;          // its own certificate (respond: instead of the program folder's)
    QString key;           // and its key
    QString folder;        // the program folder, set by main: the server's own files
    // As given, before the rules between options are checked.
    bool wantsTcp = false;
    bool wantsUdp = false;
    QString targetsFile;
    // The service's configuration (probe, respond --config; check-config
    // FILE), and the long names of the options given beside it, which
    // replace the file's defaults.
    QString configFile;
    QStringList given;
    bool printConfig = false; // print the configuration the options make, and end
    // load (loadcommand.cpp): HOST PORT are host and port; count, json,
    // quiet, source and the TLS choices as for probe.
    double loadRate = -1;      // pieces a second, or bits with loadRateBits; -1: the default
    bool loadRateBits = false; // loadRate is bits a second
    int loadSize = 0;          // bytes of a piece; 0: the transport's default
    int loadBurst = 1;         // pieces back to back per tick
    int loadTimeMs = 0;        // how long to send (with count 0); 0: the default
    int loadWarmUpMs = 0;      // the warm-up, not counted
    // respond: whom it answers and how much (--allow, --budget...).
    ResponderLimits limits;
    // probe: every query carries the token; a tokenless answer is foreign.
    bool requireToken = false;
};

// The load command's arguments, the program's name first and "load" next.
Command ParseLoadCommandLine(const QStringList &arguments);

// arguments as main() has them, the program's name first.
Command ParseCommandLine(const QStringList &arguments);

// The text --help prints.
QString UsageText();
// The load command's part of it (loadcommand.cpp).
QString LoadUsageText();

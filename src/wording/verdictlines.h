// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// A diagnosis in plain sentences, a line each, step by step: the look-up,
// what came back to the attempt, the hops, and last the outcome's class with
// its evidence (and what cannot be known here).
//
//   Looked up far.example.org in 1.204 ms: 192.0.2.7, 2001:db8::7
//   Trying 192.0.2.7: the first IPv4 address: IPv4 is tried before IPv6, ...
//   TCP to 192.0.2.7:7000: no answer within 3 s
//   Hops toward 192.0.2.7 (TCP port 7000):
//    1  10.0.1.1  0.105 ms  time exceeded
//    2  no answer
//   Filtered: no answer from 192.0.2.7 port 7000, no reset, no ICMP; the
//   last hop that answers is 10.0.1.1 (hop 1): the packets vanish after it

#include "diagnose/diagnose.h"

QStringList StepLines(Step step, const PathVerdict &verdict);
// The outcome's class with its evidence, the TLS handshake, the notes.
QStringList VerdictLines(const PathVerdict &verdict);
// The class as the lines begin it: "Open", "Refused by the host" ...
QString OutcomeTitle(Outcome outcome);
// The outcome in one sentence, with its evidence (the first verdict line).
QString OutcomeSentence(const PathVerdict &verdict);

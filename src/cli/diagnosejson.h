// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// A diagnosis as one JSON document: the question (protocol, host, port),
// the look-up (addresses, lookup_ms, tried, why), the outcome ("open",
// "refused", "rejected", "filtered", "no_route", "blocked",
// "name_not_found") with its sentence and evidence (connect_ms, error,
// icmp {type, code, words, from}, route {interface, gateway, type}), tls,
// the hops ({hop, address, rtt_ms, said}), last_hop, notes, exit_status.

#include <QByteArray>

struct PathVerdict;

QByteArray DiagnosisJson(const PathVerdict &verdict);

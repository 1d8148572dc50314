// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Why a path could not be probed, as a short word: the figures count failed
// attempts by it, and a metrics scraper gets it as a label.

#include <QString>

// The reason of a socket failure number in full (10061, 40031 ...):
// "refused", "timeout", "host_unreachable", "network_unreachable",
// "not_permitted", "name_not_found", "reset", "address", "tls_handshake",
// "tls_certificate", "tls_timeout", "tls", or "failed" for the rest.
QString FailureReason(int code);
// The reason of a peer that ended the connection in order.
inline const QString ClosedByPeer = QStringLiteral("closed");

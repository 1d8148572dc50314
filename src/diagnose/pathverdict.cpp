// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "pathverdict.h"

QString OutcomeWord(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Open: return QStringLiteral("open");
    case Outcome::Refused: return QStringLiteral("refused");
    case Outcome::Rejected: return QStringLiteral("rejected");
    case Outcome::Filtered: return QStringLiteral("filtered");
    case Outcome::NoRoute: return QStringLiteral("no_route");
    case Outcome::Blocked: return QStringLiteral("blocked");
    case Outcome::NameNotFound: return QStringLiteral("name_not_found");
    }
    return QStringLiteral("filtered");
}

int PathVerdict::exitStatus() const
{
    if (outcome != Outcome::Open)
        return 1;
    if (transport == Transport::Tls && (!tlsDone || (!tlsProblems.isEmpty() && !tlsInsecure)))
        return 1;
    return 0;
}

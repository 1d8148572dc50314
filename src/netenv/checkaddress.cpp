// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "addressrules.h"

#include "base/conversions.h"
#include "base/environment.h"
#include "base/failure.h"

// How a host text is told apart and judged.
//
// First the characters: only ASCII letters, digits, "-", "_" and "." may
// appear, never two dots in a row.  A text without a dot is a NetBIOS name.
// A text with a dot that holds only digits and dots, has no run of four
// digits and no four three-digit groups each followed by a dot looks like a
// dotted IPv4 address and goes to CheckIP; anything else with a dot is a
// domain name.  A text with a colon is an IPv6 literal (checkipv6.cpp).
// The machine's own names come from the environment at every
// call, so a renamed machine is seen without a restart.
//
// The character classes are tested character by character rather than with a
// regular expression; they mean exactly the ASCII classes above (a non-ASCII
// letter is refused even where case folding would map it onto an ASCII one).

namespace {

constexpr qsizetype NetBiosLimit = 15;
constexpr qsizetype FqdnLimit = 128;

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool isHostCharacter(QChar c)
{
    return isAsciiDigit(c) || isAsciiLetter(c) || c == u'-' || c == u'_' || c == u'.';
}

bool hasForeignCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (!isHostCharacter(c))
            return true;
    }
    return false;
}

bool hasDotRun(const QString &text)
{
    return text.contains(QLatin1String(".."));
}

bool hasNeitherDigitNorDot(const QString &text)
{
    for (const QChar c : text) {
        if (!isAsciiDigit(c) && c != u'.')
            return true;
    }
    return false;
}

bool hasDigitRun(const QString &text, qsizetype length)
{
    qsizetype run = 0;
    for (const QChar c : text) {
        run = isAsciiDigit(c) ? run + 1 : 0;
        if (run >= length)
            return true;
    }
    return false;
}

// Four groups of exactly three digits, each followed by a dot, one after the
// other, starting anywhere in the text ("111.222.333.444.").
bool hasFourThreeDigitGroups(const QString &text)
{
    constexpr qsizetype group = 4; // three digits and a dot
    constexpr qsizetype span = 4 * group;
    for (qsizetype start = 0; start + span <= text.size(); ++start) {
        bool all = true;
        for (qsizetype i = 0; i < span && all; ++i) {
            const QChar c = text[start + i];
            all = (i % group == group - 1) ? c == u'.' : isAsciiDigit(c);
        }
        if (all)
            return true;
    }
    return false;
}

bool looksLikeDottedAddress(const QString &text)
{
    return !hasNeitherDigitNorDot(text) && !hasDigitRun(text, 4) && !hasFourThreeDigitGroups(text);
}

QString fullName(const Environment &env)
{
    const QString computer = ComputerName(env);
    const QString domain = UserDnsDomain(env);
    return domain.isEmpty() ? computer : computer + u'.' + domain;
}

} // namespace

QString AddressRules::characterMessage()
{
    return QStringLiteral("Remote addresses must contain only characters matching:") + CRLF
           + QStringLiteral("0-9, A-Z, a-z, \".\", \"-\", \"_\", ") + CRLF
           + QStringLiteral("no spaces and only one \".\" at a time");
}

AddressRules::AddressRules(const Environment &env, const LocalAdapters &adapters, MsgSink &report)
    : m_env(env), m_adapters(adapters), m_report(report)
{}

bool AddressRules::CheckAddress(const QString &address, QString &message) const
{
    bool answer = false;
    QString reason = message;
    const bool completed = Guard(m_report, QStringLiteral(" in mdlMain.CheckAddress; "), [&] {
        if (address.isEmpty()) {
            reason = QStringLiteral("You must select a remote server");
            return;
        }
        // Only an IPv6 literal holds a colon; every other text with one
        // was always refused by the character rule, and a malformed
        // literal still is.
        if (address.contains(u':')) {
            answer = CheckIPv6(address, reason);
            return;
        }
        if (hasForeignCharacter(address) || hasDotRun(address)) {
            reason = characterMessage();
            return;
        }

        const Environment &env = m_env;
        if (!address.contains(u'.')) {
            if (address.size() > NetBiosLimit)
                reason = QStringLiteral("NetBIOS names must be less than 15 characters");
            else if (address.toUpper() == ComputerName(env))
                reason = QStringLiteral("Cannot connect to yourself");
            else
                answer = true;
            return;
        }

        if (looksLikeDottedAddress(address)) {
            answer = CheckIP(address, reason);
            return;
        }

        const QString topLevel = address.mid(address.lastIndexOf(u'.') + 1);
        if (IsNumeric(topLevel))
            reason = QStringLiteral("TLD cannot be numeric");
        else if (address.toUpper() == fullName(env))
            reason = QStringLiteral("Cannot connect to yourself");
        else if (address.size() > FqdnLimit)
            reason = QStringLiteral("FQDN addresses must be less than 128 chars");
        else
            answer = true;
    });
    // The reason reaches the caller only from a check that ran to its end.
    if (completed)
        message = reason;
    return completed && answer;
}

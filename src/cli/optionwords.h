// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The pieces every command's parser shares: an option word taken apart, a
// refusal, a port and a host as the commands take them, and the reading of
// the arguments over a command's own option table.

#include "commandline.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <optional>

// An option as written: --name, --name=VALUE, -x, -x VALUE, -xVALUE (as
// ping takes -c1).  hasValue: the value came in the same word.
struct OptionWord
{
    QString name;
    QString value;
    bool hasValue = false;
};
OptionWord SplitOption(const QString &argument);

// A command that ends the run with a usage error.
Command UsageError(const QString &error);

// A port: decimal digits only, from low to 65535; -1 when it is none.
int PortNumber(const QString &text, int low = 1);

// A number of seconds (the value of option name, "--interval") as whole
// milliseconds in *ms, at least lowMs of them (0: none is allowed) and at most
// 2,000,000 s; else the refusal.
QString SecondsValue(const QString &name, const QString &text, int lowMs, int *ms);

// What an option does to the command given its value: an error, or empty.
// The tables of options are built of these, most of them one of the kinds
// below, named by the field of the command they set.
using OptionApply = std::function<QString(Command &, const QString &)>;
// The option is a flag: it sets the field.
OptionApply SetsFlag(bool Command::*field);
// The value is kept as given.
OptionApply KeepsValue(QString Command::*field);
// The value is kept as given, refused with refusal unless a port from low.
OptionApply KeepsPort(quint16 Command::*field, int low, const char *refusal);
// The value in seconds, as SecondsValue reads them.
OptionApply TakesSeconds(int Command::*field, const char *name, int lowMs);

// -4 or -6 (family): a second, other one is refused.
OptionApply SetsFamily(int family);
// The refusal of an address literal (a HOST, -I) of the other family than
// -4 or -6 asked for; empty for a name, or with either family.
QString FamilyRefusal(int family, const QString &text);

// HOST as targets are compared and named: an IPv6 address without its
// brackets, in its one written form; a name as given.  *error: an IPv6 zone
// that names no interface of this machine.
QString NormalHost(QString host, QString *error);

// --help or -h, and --version or -v where the command has a version to tell:
// the command they end the reading with.
std::optional<Command> EndingWord(const QString &argument, bool hasVersion);

// Reads the arguments from first on.  A word that is no option goes to
// *words; an option is found by name in the table (each Option has names and
// takesValue) and handed with its value to take, whose error text refuses the
// command line, as does an option the table lacks (unknown: its text, %1 the
// word).  Returns the command to end with (help, version or a usage error),
// or nothing when every argument was read.
template<typename Option>
std::optional<Command>
ReadArguments(const QStringList &arguments, qsizetype first, const QList<Option> &table,
              bool hasVersion, const QString &unknown, QStringList *words,
              const std::function<QString(const Option &, const QString &)> &take)
{
    for (qsizetype i = first; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (std::optional<Command> ends = EndingWord(argument, hasVersion))
            return ends;
        if (!argument.startsWith(u'-') || argument == QLatin1String("-")) {
            words->append(argument);
            continue;
        }
        const OptionWord word = SplitOption(argument);
        const auto option = std::find_if(table.begin(), table.end(), [&](const Option &o) {
            return o.names.contains(word.name);
        });
        if (option == table.end() || (!option->takesValue && word.hasValue))
            return UsageError(unknown.arg(argument));
        QString value = word.value;
        if (option->takesValue && !word.hasValue) {
            if (i + 1 >= arguments.size())
                return UsageError(QStringLiteral("Missing value after '%1'.").arg(argument));
            value = arguments.at(++i);
        }
        if (const QString error = take(*option, value); !error.isEmpty())
            return UsageError(error);
    }
    return std::nullopt;
}

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The pieces every command's parser shares: an option word taken apart, a
// refusal, a port and a host as the commands take them.

#include "commandline.h"

#include <QString>

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

// HOST as targets are compared and named: an IPv6 address without its
// brackets, in its one written form; a name as given.  *error: an IPv6 zone
// that names no interface of this machine.
QString NormalHost(QString host, QString *error);

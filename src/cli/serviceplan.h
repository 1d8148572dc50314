// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The configuration file (config/serviceconfig.h) as a run takes it: a
// command of its own for each target and each responder port, made of the
// command line's with the file's settings copied in.  Options given beside
// --config replace the file's defaults (a target's own settings still win)
// and its metrics address; the rest of the command line (the count, the
// deadline, the TLS files, --json ...) holds for every target.

#include "commandline.h"
#include "config/serviceconfig.h"

struct PlannedTarget
{
    TargetEntry entry; // its name, labels and settings as the file has them
    Command command;   // what it is probed with (host, port, targets: its own)
};

struct PlannedResponder
{
    RespondEntry entry;
    Command command;
};

struct ServicePlan
{
    QList<PlannedTarget> targets;
    QList<PlannedResponder> responders;
    QString metrics;
    QString webConfig; // what locks the metrics endpoint; empty: nothing
};

// The configuration the command makes: its file's (--config) with the
// options given over the defaults, or the options' own.  *faults: every
// fault as "FILE:LINE:COLUMN: reason", or why the file cannot be read.
ServiceConfig ConfigOfCommand(const Command &command, QStringList *faults);

// The run that configuration makes, with the command's other choices.
// *faults as above, for hosts and addresses the file's reading could not
// judge.
ServicePlan PlanOf(const ServiceConfig &config, const Command &command, QStringList *faults);

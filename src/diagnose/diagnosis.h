// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Diagnosis: Diagnose (diagnose.h) on a thread of its own, its steps told
// as signals on the thread that made the object, so that a face (the
// terminal, a window) writes each step as it ends and never waits.  The
// object may go at any time: a diagnosis still waiting for the network is
// told to stop and ends on its own, telling nobody.

#include "diagnose.h"

#include <QObject>

#include <memory>

class Diagnosis : public QObject
{
    Q_OBJECT
public:
    explicit Diagnosis(QObject *parent = nullptr);
    ~Diagnosis() override;

    void start(const Question &question);

signals:
    void stepDone(Step step, const PathVerdict &soFar);
    void finished(const PathVerdict &verdict);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

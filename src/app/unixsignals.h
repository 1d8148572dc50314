// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// SIGINT, SIGTERM and SIGHUP as a Qt signal: the handler only writes a byte into a
// pipe, and the event loop turns it into received(), so whatever ends the run
// runs as an ordinary handler (the window closes, the probe prints its
// summary, the log gets its last line; a run without a window reads its
// configuration again on SIGHUP).

#include <QObject>

class QSocketNotifier;

class UnixSignals : public QObject
{
    Q_OBJECT
public:
    explicit UnixSignals(QObject *parent = nullptr);
    ~UnixSignals() override;

signals:
    void received(int signalNumber);

private:
    QSocketNotifier *m_notifier = nullptr;
};

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>
class TestProbe : public QObject
{
    Q_OBJECT
};
QTEST_MAIN(TestProbe)
#include "tst_probe.moc"

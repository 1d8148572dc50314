// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// A load's figures as the lines write them, on both ends: the responder's
// line a second per load and its end (respondlines.h), and the sender's
// lines and summary (loadrun.h).
//
//   Load:  10.0.0.2:40000 #1a2b3c4d second 3: 1000 received, 2 lost (0.20%),
//          0 out of order, 0 duplicates, jitter 0.012 ms, delay variation
//          max 0.210 ms, 8.00 Mbit/s
//   Load:  10.0.0.2:40000 #1a2b3c4d ended after 10.0 s: 10000 sent, 9990
//          received, 10 lost (0.10%), ..., goodput 7.99 Mbit/s

#include "load/loadcounter.h"

#include <QString>

// Bits a second with k, M or G (decimal), three digits: "8.00 Mbit/s".
QString BitRateText(double bitsPerSecond);
// "(0.20%)"
QString PercentText(double percent);
// The far end's figures of a second (the interval the report closed); a
// stream's (TCP, TLS) are its pieces and goodput: it loses nothing.
QString LoadIntervalText(const LoadTally &tally, bool stream = false);
// The far end's figures of the whole run ("sent" with the End's number).
QString LoadWholeText(const LoadTally &tally, bool ended, bool stream = false);
// The responder's line for what a load told (its speaker is "Load").
QString LoadToldLine(const LoadReceiver::Told &told);

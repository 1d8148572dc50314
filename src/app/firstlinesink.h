// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Where the objects made before the main window report their lines (the log,
// the adapter check, the address rules, the server list file): into the main
// window's pane.  The first line written makes the main window, which loads
// and shows itself, and then takes the line.

#include "base/msgsink.h"

#include <functional>

class FirstLineSink final : public MsgSink
{
public:
    // window() makes the main window on its first call and returns it.
    explicit FirstLineSink(std::function<MsgSink &()> window) : m_window(std::move(window)) {}

    void AddToMsgsBox(const QString &speaker, const QString &sentence) override
    {
        m_window().AddToMsgsBox(speaker, sentence);
    }

private:
    std::function<MsgSink &()> m_window;
};

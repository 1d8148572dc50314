#pragma once
// Fresh test globals with one adapter (192.0.2.10/24) and a main window made
// and loaded on them, for tests of the window itself.

#include "console/frmmain.h"
#include "support/fakes.h"

#include <memory>

struct LoadedWindow
{
    std::unique_ptr<TestGlobals> globals;
    std::unique_ptr<FrmMain> window;

    void load()
    {
        globals = std::make_unique<TestGlobals>();
        globals->adapters->adapters = {MakeAdapter({QStringLiteral("192.0.2.10")},
                                                   {QStringLiteral("255.255.255.0")})};
        window = std::make_unique<FrmMain>();
        window->Form_Load();
    }
    // The window goes first: it closes the socket and the log on its way out.
    void reset()
    {
        window.reset();
        globals.reset();
    }
};

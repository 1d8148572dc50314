#pragma once
// The global objects for the fuzz targets: the test fakes (a pinned
// environment and clock, a recording messages sink, one adapter with a
// subnet mask) and a program folder in a temporary directory.  Made once per
// process; FuzzGlobals::get() returns it.

#include "support/fakes.h"

#include <QTemporaryDir>

struct FuzzGlobals
{
    QTemporaryDir folder;
    TestGlobals globals;

    static FuzzGlobals &get();
    // The path of Servers.xml in the program folder.
    QString serversFile() const;

private:
    FuzzGlobals();
};

#include "fuzzglobals.h"

#include "startup/globals.h"

#include <QDir>

FuzzGlobals::FuzzGlobals()
{
    QDir(folder.path()).mkpath(QStringLiteral("Selmarin"));
    globals.env->variables = {{QStringLiteral("PROGRAMFILES"), folder.path()},
                              {QStringLiteral("COMPUTERNAME"), QStringLiteral("PC17")},
                              {QStringLiteral("USERDNSDOMAIN"), QStringLiteral("EXAMPLE.TEST")}};
    globals.adapters->adapters = {MakeAdapter({QStringLiteral("192.0.2.10")}, {QStringLiteral("255.255.255.0")})};
    Globals::instance().adapterSet = globals.adapters->adapters;
}

FuzzGlobals &FuzzGlobals::get()
{
    static FuzzGlobals instance;
    return instance;
}

QString FuzzGlobals::serversFile() const
{
    return folder.path() + QStringLiteral("/Selmarin/Servers.xml");
}

#include "serverfile.h"

#include "serverlist.h"
#include "startup/failure.h"

// Placeholder until the server list file lands.
bool LoadServers(ServerList &)
{
    return false;
}

bool SaveServers(ServerList &)
{
    return false;
}

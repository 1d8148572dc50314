#pragma once
// The server list file, <PROGRAMFILES>/Selmarin/Servers.xml: document element
// <Selmarin>, one <Server> child per entry.  Both operations merge and never
// remove an entry; both report their failures in the messages pane and
// answer false.

class ServerList;

// Appends the file's entries that the list lacks (exact letter case).
bool LoadServers(ServerList &list);

// Appends the list's entries that the file lacks, or writes a new file.
bool SaveServers(ServerList &list);

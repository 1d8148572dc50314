#pragma once
// The machine's own adapters: the start-up check for an active connection,
// which takes the adapter snapshot, and the list of own addresses.

// True when at least one adapter of the snapshot has a non-empty subnet mask.
// Takes the snapshot (Globals::adapterSet).  Without such an adapter it shows
// the "can't find an active network connection" message box.
bool CheckConnected();

// Rebuilds Globals::LocIPs from the system's adapters (read afresh at every
// call); true when it holds at least one address afterwards.
bool GetLocIPs();

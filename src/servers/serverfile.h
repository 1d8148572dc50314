#pragma once
// The server list file, <PROGRAMFILES>/Selmarin/Servers.xml (with PROGRAMFILES
// unset, the Selmarin folder of the per-user data folder; see ProgramFolder).
//
// Format: document element <Selmarin>, one <Server> child per entry, the entry
// being the element's text with surrounding white space trimmed.  Everything
// else in the file (other elements, Server elements further down, comments) is
// ignored on loading and kept on merging.  A file the program creates holds
// the comment "This file maintains the server list for Selmarin.exe" and then
// one Server element per entry, indented by two spaces, without an XML
// declaration (so UTF-8).
//
// Both operations report every failure as one error line in the messages pane
// (" in mdlMain.LoadServers; " / " in mdlMain.SaveServers; ") and answer
// false; their own failures carry number 1638 (0x666).  Walks over the list
// and the file count with 16-bit positions (walk16.h): from 32,767 entries on,
// a walk stops with 6 "Overflow" and what it merged before stays merged.
//
// Files are read through safexml.h: files over 4 MB, files declaring DTD
// entities, files nested more than 256 elements deep and files of more than
// 100,000 nodes (elements, texts, comments) are refused with
// "Failed to load <path> (<why>)"; a file that is not well-formed (including
// bytes invalid in its encoding) gives "Failed to load <path>".
//
// Writing goes through QSaveFile: the file on disk is either the old one or
// the complete new one, never a half-written one.  Before writing, the new
// text is parsed again by the same rules, so whatever the program writes also
// loads.

#include <QString>

class ServerList;

// Appends the file's entries that the list lacks (exact letter case); entries
// already in the list keep their positions.  A failure before the merge
// leaves the list unchanged.
bool LoadServers(ServerList &list);

enum class SaveMode {
    // An existing file keeps all it holds and gains the list's entries it
    // lacks (exact letter case).  An existing file that does not load, or
    // whose document element is not <Selmarin>, is left exactly as it is and
    // the save fails with the load's error text ("Failed to load <path>" /
    // "Root Node in servers file must be <Selmarin>").  With no file, a new
    // file is written holding every entry.
    Merge,
    // The editor's "O" answer: the file is written afresh from the list, as a
    // new file would be, so it holds exactly the list.  An existing file,
    // whether it loads or not, is first kept as Servers.xml.bak beside it
    // (replacing an older .bak); if it cannot be kept, nothing is written.
    Overwrite,
};

// Writes the list to the file; on success reports "-- Info" "Servers list
// saved as <path>".  The list itself is never changed.
bool SaveServers(ServerList &list, SaveMode mode = SaveMode::Merge);

// Where the file is (worked out afresh at every call).
QString ServersFilePath();

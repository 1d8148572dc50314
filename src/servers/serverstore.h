// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The server list on disk, <program folder>/Servers.xml: loading it into the
// list and saving the list into it.  The path is given by the caller
// (ServersFilePath gives the usual one).
//
// Both operations report every failure as one error line through the sink
// they are given (" in mdlMain.LoadServers; " / " in mdlMain.SaveServers; ")
// and answer false; their own failures carry number 1638 (0x666).  Walks
// over the list and the file count with 16-bit positions (walk16.h): from
// 32,767 entries on, a walk stops with 6 "Overflow" and what it merged
// before stays merged.  A file refused by ServerFile's limits gives "Failed
// to load <path> (<why>)"; one that is not well-formed "Failed to load
// <path>".
//
// Writing goes through QSaveFile: the file on disk is either the old one or
// the complete new one, never a half-written one.  Before writing, the new
// text is parsed again by the same rules, so whatever the program writes also
// loads.

#include <QString>

class Environment;
class MsgSink;
class ServerList;

// Appends the file's entries that the list lacks (exact letter case); entries
// already in the list keep their positions.  A failure before the merge
// leaves the list unchanged.
bool LoadServers(ServerList &list, const QString &path, MsgSink &report);

enum class SaveMode {
    // An existing file keeps all it holds and gains the list's entries it
    // lacks (exact letter case).  With no file, a new file is written holding
    // every entry.  An existing file that does not load (unreadable, not
    // well-formed, refused by ServerFile's limits) is not merged into: it is
    // kept as Servers.xml.bak beside it (replacing an older .bak) and a new
    // file is written holding every entry, as with no file; a second "-- Info"
    // line, "The file that did not load was kept as <path>.bak", comes before
    // the usual one.  If it cannot be kept, nothing is written.  A file that
    // loads but whose document element is not <Selmarin> is left exactly as
    // it is and the save fails ("Root Node in servers file must be
    // <Selmarin>").
    Merge,
    // The editor's "O" answer: the file is written afresh from the list, as a
    // new file would be, so it holds exactly the list.  An existing file,
    // whether it loads or not, is first kept as Servers.xml.bak beside it
    // (replacing an older .bak); if it cannot be kept, nothing is written.
    Overwrite,
};

// Writes the list to the file; on success reports "-- Info" "Servers list
// saved as <path>" (after the backup line of a Merge over a file that did not
// load).  The list itself is never changed.
bool SaveServers(const ServerList &list, const QString &path, SaveMode mode, MsgSink &report);

// <program folder>/Servers.xml (see ProgramFolder).
QString ServersFilePath(const Environment &env);

#pragma once
// The start-up sequence: fills the name tables, opens the log, checks for an
// active network connection, loads the server list, reads the machine's own
// addresses and shows the main window.  Each step first sets a step text;
// a failure is reported with it, and start-up stops.
//
// Answers true when the main window was shown; false when start-up stopped
// (its report, if any, is then in the main window's pane or a message box).
bool Main();

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// frmAddress, the "Addresses" window: the user keeps the list of remote hosts
// that the main window offers.  The window works on its own shown entries
// (lstRemotes) and on the server list:
//   Add, Edit, Del  change the shown entries only (texts pass CheckAddress;
//                   refused ones are dropped without a word);
//   Load            merges the file into the server list and shows the list;
//   Save            asks "M"erge or "O"verwrite, makes the server list from
//                   the shown entries and writes the file (SaveServers; "O"
//                   writes it afresh and keeps the old one as Servers.xml.bak;
//                   "M" over a file that does not load makes the list the
//                   shown entries, keeps that file as Servers.xml.bak and
//                   writes a new one);
//   OK              adds the shown entries the server list lacks (letter case
//                   not counting) and hides the window;
//   Cancel          only hides it (so do Escape and the title bar's close box).
// The window is made at its first opening, runs its load step then, and is
// afterwards only hidden, so every later opening shows it as it was left.
// The handlers end quietly at any failure: Edit or Del with nothing selected
// do nothing.  The editor is given the one server list it edits, the file's
// path, the address rules, the dialogs and the sink that the file operations
// report through.

#include <QDialog>

#include <memory>

namespace Ui {
class FrmAddress;
}
class AddressRules;
class Dialogs;
class MsgSink;
class ServerList;

class FrmAddress : public QDialog
{
    Q_OBJECT
public:
    FrmAddress(ServerList &list, QString path, const AddressRules &rules, Dialogs &dialogs,
               MsgSink &report, QWidget *parent = nullptr);
    ~FrmAddress() override;

    // Escape and the close box take the Cancel path.
    void reject() override;

private:
    void cmdAdd_Click();
    void cmdEdit_Click();
    void cmdDel_Click();
    void cmdLoad_Click();
    void cmdSave_Click();
    void cmdOK_Click();
    void cmdCx_Click();

    // The shown entries, in order.
    QStringList shownEntries() const;

    // Load step: shows the server list and puts the focus on OK (first
    // opening only).
    void Form_Load();
    // Edit, Del and Save are usable exactly when entries are shown.
    void setEntryButtons(bool enabled);
    void showServerList();

    std::unique_ptr<Ui::FrmAddress> ui;
    ServerList &m_list;
    const QString m_path;
    const AddressRules &m_rules;
    Dialogs &m_dialogs;
    MsgSink &m_report;
};

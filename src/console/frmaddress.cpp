// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "frmaddress.h"

#include "base/dialogs.h"
#include "base/failure.h"
#include "netenv/addressrules.h"
#include "servers/serverlist.h"
#include "servers/serverstore.h"
#include "servers/walk16.h"
#include "ui_frmaddress.h"

namespace {

const QString AddPrompt = QStringLiteral("Enter the server name or IP address");
const QString EditPrompt = QStringLiteral("Change the server name or IP address");
const QString SavePrompt
    = QStringLiteral("Do you want to 'M'erge or 'O'verwite the existing file?");
const QString SavedText = QStringLiteral("Server list file was saved successfully");
const QString NotSavedText = QStringLiteral("There was a problem saving the server list file..");

// The editor's handlers end quietly: a failure skips the rest and shows nothing.
template<typename Body>
void quietly(Body &&body)
{
    TryRun(std::forward<Body>(body), [](const RuntimeError &) {});
}

// The list becomes exactly the texts, in order, duplicates included.
void replaceWith(ServerList &list, const QStringList &texts)
{
    list.Clear();
    for (qsizetype n = 1; n <= texts.size(); ++n) {
        WalkTo(n);
        list.Add(texts.at(n - 1));
    }
    WalkThrough(texts.size());
}

} // namespace

FrmAddress::FrmAddress(ServerList &list, QString path, const AddressRules &rules, Dialogs &dialogs,
                       MsgSink &report, QWidget *parent)
    : QDialog(parent),
      ui(std::make_unique<Ui::FrmAddress>()),
      m_list(list),
      m_path(std::move(path)),
      m_rules(rules),
      m_dialogs(dialogs),
      m_report(report)
{
    ui->setupUi(this);
    connect(ui->cmdAdd, &QPushButton::clicked, this, &FrmAddress::cmdAdd_Click);
    connect(ui->cmdEdit, &QPushButton::clicked, this, &FrmAddress::cmdEdit_Click);
    connect(ui->cmdDel, &QPushButton::clicked, this, &FrmAddress::cmdDel_Click);
    connect(ui->cmdLoad, &QPushButton::clicked, this, &FrmAddress::cmdLoad_Click);
    connect(ui->cmdSave, &QPushButton::clicked, this, &FrmAddress::cmdSave_Click);
    connect(ui->cmdOK, &QPushButton::clicked, this, &FrmAddress::cmdOK_Click);
    connect(ui->cmdCx, &QPushButton::clicked, this, &FrmAddress::cmdCx_Click);
    // The window is made at its first opening: its load step runs now.
    Form_Load();
}

FrmAddress::~FrmAddress() = default;

QStringList FrmAddress::shownEntries() const
{
    QStringList texts;
    for (int i = 0; i < ui->lstRemotes->count(); ++i)
        texts.append(ui->lstRemotes->item(i)->text());
    return texts;
}

void FrmAddress::setEntryButtons(bool enabled)
{
    ui->cmdEdit->setEnabled(enabled);
    ui->cmdDel->setEnabled(enabled);
    ui->cmdSave->setEnabled(enabled);
}

void FrmAddress::showServerList()
{
    for (qsizetype i = 1; i <= m_list.Count(); ++i) {
        WalkTo(i);
        ui->lstRemotes->addItem(m_list.Item(i));
    }
    WalkThrough(m_list.Count());
}

void FrmAddress::Form_Load()
{
    quietly([&] {
        // The window opens with the focus on OK, the first in its tab order.
        ui->cmdOK->setFocus();
        if (m_list.Count() > 0)
            showServerList();
        else
            setEntryButtons(false);
    });
}

void FrmAddress::cmdAdd_Click()
{
    quietly([&] {
        const QString answer = m_dialogs.InputBox(AddPrompt, QString());
        QString reason;
        if (m_rules.CheckAddress(answer, reason))
            ui->lstRemotes->addItem(answer);
        if (ui->lstRemotes->count() > 0)
            setEntryButtons(true);
    });
}

void FrmAddress::cmdEdit_Click()
{
    quietly([&] {
        const QList<QListWidgetItem *> selected = ui->lstRemotes->selectedItems();
        if (selected.isEmpty())
            Raise(rt::ObjectNotSet);
        QListWidgetItem *item = selected.first();
        const QString answer = m_dialogs.InputBox(EditPrompt, item->text());
        QString reason;
        if (m_rules.CheckAddress(answer, reason))
            item->setText(answer);
    });
}

void FrmAddress::cmdDel_Click()
{
    quietly([&] {
        const QList<QListWidgetItem *> selected = ui->lstRemotes->selectedItems();
        if (selected.isEmpty())
            Raise(rt::ObjectNotSet);
        delete ui->lstRemotes->takeItem(ui->lstRemotes->row(selected.first()));
        if (ui->lstRemotes->count() == 0)
            setEntryButtons(false);
    });
}

void FrmAddress::cmdLoad_Click()
{
    quietly([&] {
        if (!LoadServers(m_list, m_path, m_report))
            return;
        ui->lstRemotes->clear();
        showServerList();
        if (ui->lstRemotes->count() > 0)
            setEntryButtons(true);
    });
}

void FrmAddress::cmdSave_Click()
{
    quietly([&] {
        ServerList &list = m_list;
        const QString answer
            = m_dialogs.InputBox(SavePrompt, QStringLiteral("M")).trimmed().toUpper();
        SaveMode mode = SaveMode::Merge;
        if (answer == QLatin1String("M")) {
            // A file that is missing or does not load has already been
            // reported by LoadServers; the list then becomes the shown
            // entries, and SaveServers writes them as a new file (keeping
            // one that does not load as Servers.xml.bak).
            if (LoadServers(list, m_path, m_report))
                list.AppendMissing(shownEntries(), Qt::CaseSensitive);
            else
                replaceWith(list, shownEntries());
        } else if (answer == QLatin1String("O")) {
            replaceWith(list, shownEntries());
            mode = SaveMode::Overwrite;
        } else {
            return;
        }
        const bool saved = SaveServers(list, m_path, mode, m_report);
        m_dialogs.MsgBox(saved ? SavedText : NotSavedText);
    });
}

void FrmAddress::cmdOK_Click()
{
    quietly([&] {
        m_list.AppendMissing(shownEntries(), Qt::CaseInsensitive);
        done(QDialog::Accepted);
    });
}

void FrmAddress::cmdCx_Click()
{
    quietly([&] { done(QDialog::Rejected); });
}

void FrmAddress::reject()
{
    cmdCx_Click();
}

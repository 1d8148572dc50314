#include "frmaddress.h"

#include "serverfile.h"
#include "serverlist.h"
#include "walk16.h"
#include "netenv/checkaddress.h"
#include "startup/dialogs.h"
#include "startup/failure.h"
#include "startup/globals.h"
#include "ui_frmaddress.h"


namespace {

const QString AddPrompt = QStringLiteral("Enter the server name or IP address");
const QString EditPrompt = QStringLiteral("Change the server name or IP address");
const QString SavePrompt = QStringLiteral("Do you want to 'M'erge or 'O'verwite the existing file?");
const QString SavedText = QStringLiteral("Server list file was saved successfully");
const QString NotSavedText = QStringLiteral("There was a problem saving the server list file..");

// The editor's handlers end quietly: a failure skips the rest and shows nothing.
template <typename Body>
void Quietly(Body &&body)
{
    TryRun(std::forward<Body>(body), [](const RuntimeError &) {});
}

// The list becomes exactly the texts, in order, duplicates included.
void ReplaceWith(ServerList &list, const QStringList &texts)
{
    list.Clear();
    for (qsizetype n = 1; n <= texts.size(); ++n) {
        WalkTo(n);
        list.Add(texts.at(n - 1));
    }
    WalkThrough(texts.size());
}

} // namespace

FrmAddress::FrmAddress(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::FrmAddress>())
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
    const ServerList &list = Globals::instance().serverList();
    for (qsizetype i = 1; i <= list.Count(); ++i) {
        WalkTo(i);
        ui->lstRemotes->addItem(list.Item(i));
    }
    WalkThrough(list.Count());
}

void FrmAddress::Form_Load()
{
    Quietly([&] {
        if (Globals::instance().serverList().Count() > 0)
            showServerList();
        else
            setEntryButtons(false);
    });
}

void FrmAddress::cmdAdd_Click()
{
    Quietly([&] {
        const QString answer = Globals::instance().dialogs().InputBox(AddPrompt, QString());
        QString reason;
        if (CheckAddress(answer, reason))
            ui->lstRemotes->addItem(answer);
        if (ui->lstRemotes->count() > 0)
            setEntryButtons(true);
    });
}

void FrmAddress::cmdEdit_Click()
{
    Quietly([&] {
        const QList<QListWidgetItem *> selected = ui->lstRemotes->selectedItems();
        if (selected.isEmpty())
            Raise(rt::ObjectNotSet);
        QListWidgetItem *item = selected.first();
        const QString answer = Globals::instance().dialogs().InputBox(EditPrompt, item->text());
        QString reason;
        if (CheckAddress(answer, reason))
            item->setText(answer);
    });
}

void FrmAddress::cmdDel_Click()
{
    Quietly([&] {
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
    Quietly([&] {
        if (!LoadServers(Globals::instance().serverList()))
            return;
        ui->lstRemotes->clear();
        showServerList();
        if (ui->lstRemotes->count() > 0)
            setEntryButtons(true);
    });
}

void FrmAddress::cmdSave_Click()
{
    Quietly([&] {
        Globals &g = Globals::instance();
        ServerList &list = g.serverList();
        const QString answer =
            g.dialogs().InputBox(SavePrompt, QStringLiteral("M")).trimmed().toUpper();
        SaveMode mode = SaveMode::Merge;
        if (answer == QLatin1String("M")) {
            // A file that is missing or does not load has already been
            // reported by LoadServers; the list then becomes the shown entries.
            if (LoadServers(list))
                list.AppendMissing(shownEntries(), Qt::CaseSensitive);
            else
                ReplaceWith(list, shownEntries());
        } else if (answer == QLatin1String("O")) {
            ReplaceWith(list, shownEntries());
            mode = SaveMode::Overwrite;
        } else {
            return;
        }
        const bool saved = SaveServers(list, mode);
        g.dialogs().MsgBox(saved ? SavedText : NotSavedText);
    });
}

void FrmAddress::cmdOK_Click()
{
    Quietly([&] {
        Globals::instance().serverList().AppendMissing(shownEntries(), Qt::CaseInsensitive);
        done(QDialog::Accepted);
    });
}

void FrmAddress::cmdCx_Click()
{
    Quietly([&] { done(QDialog::Rejected); });
}

void FrmAddress::reject()
{
    cmdCx_Click();
}

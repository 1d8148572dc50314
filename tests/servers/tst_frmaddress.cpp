// The Addresses window, driven through its handlers on the offscreen platform.

#include "serverfixture.h"

#include "console/frmmain.h"
#include "servers/frmaddress.h"
#include "servers/serverfile.h"

#include <QComboBox>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

namespace {

struct Editor : ServerFolder
{
    std::unique_ptr<FrmAddress> window;

    explicit Editor(const QStringList &list = {}, bool makeFolder = true) : ServerFolder(makeFolder)
    {
        setList(list);
        window = std::make_unique<FrmAddress>();
    }
    ScriptedDialogs &dialogs() { return *globals.dialogs; }
    QPushButton *button(const char *name) { return window->findChild<QPushButton *>(name); }
    QStringList shown() { return window->shownEntries(); }
    void select(int row) { window->findChild<QListWidget *>("lstRemotes")->setCurrentRow(row); }
    // Edit, Del and Save follow the entries together.
    bool entryButtons()
    {
        const bool edit = button("cmdEdit")->isEnabled();
        if (button("cmdDel")->isEnabled() != edit || button("cmdSave")->isEnabled() != edit)
            qFatal("Edit, Del and Save disagree");
        return edit;
    }
    void add(const QString &text)
    {
        dialogs().answers = {text};
        window->cmdAdd_Click();
    }
    void edit(const QString &text)
    {
        dialogs().answers = {text};
        window->cmdEdit_Click();
    }
};

} // namespace

class TestFrmAddress : public QObject
{
    Q_OBJECT
private slots:
    void form();
    void entryButtonsFollowEntries();
    void addAndEditRefusedSilently_data();
    void addAndEditRefusedSilently();
    void editAndDel();
    void load();
    void save_data();
    void save();
    void okMergesIgnoringLetterCase();
    void cancelKeepsLoadedEntriesAndShownState();
    void remotesButtonRebuildsAddressBox();
};

void TestFrmAddress::form()
{
    Editor e;
    QCOMPARE(e.window->windowTitle(), "Addresses");
    QVERIFY(e.button("cmdOK")->isDefault());
    const QList<QPair<const char *, const char *>> buttons{{"cmdAdd", "&Add"},   {"cmdEdit", "&Edit"}, {"cmdDel", "&Del"},
                                                           {"cmdLoad", "&Load"}, {"cmdSave", "&Save"}, {"cmdOK", "&OK"},
                                                           {"cmdCx", "&Cancel"}};
    for (const auto &[name, caption] : buttons)
        QCOMPARE(e.button(name)->text(), caption);
    QCOMPARE(e.window->findChild<QWidget *>("frmHostName")->property("title").toString(), "Address List");
}

void TestFrmAddress::entryButtonsFollowEntries()
{
    QVERIFY(Editor({"a", "b"}).entryButtons()); // the load step shows the server list
    Editor e;
    QVERIFY(!e.entryButtons());
    QVERIFY(e.button("cmdAdd")->isEnabled() && e.button("cmdLoad")->isEnabled());
    e.add("alpha");
    QVERIFY(e.entryButtons());
    e.select(0);
    e.window->cmdDel_Click();
    QVERIFY(e.shown().isEmpty());
    QVERIFY(!e.entryButtons());
}

void TestFrmAddress::addAndEditRefusedSilently_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("blank inside") << "bad host";
    QTest::newRow("cancelled box") << "";
    QTest::newRow("machine itself") << "TESTHOST";
}

void TestFrmAddress::addAndEditRefusedSilently()
{
    QFETCH(QString, typed);
    Editor e({"alpha"});
    e.add(typed);
    e.select(0);
    e.edit(typed);
    QCOMPARE(e.shown(), QStringList{"alpha"});
    QVERIFY(e.dialogs().messages.isEmpty());
    QVERIFY(e.lines().isEmpty());
    QCOMPARE(e.dialogs().prompts, (QStringList{"Enter the server name or IP address", "Change the server name or IP address"}));
}

// Duplicates may be added; Edit changes the selected entry; without a
// selection Edit and Del do nothing and ask nothing.  The list is untouched.
void TestFrmAddress::editAndDel()
{
    Editor e;
    e.add("alpha");
    e.add("alpha");
    e.select(1);
    e.edit("beta.example.com");
    QCOMPARE(e.shown(), (QStringList{"alpha", "beta.example.com"}));
    e.window->findChild<QListWidget *>("lstRemotes")->clearSelection();
    e.dialogs().prompts.clear();
    e.edit("gamma");
    e.window->cmdDel_Click();
    QCOMPARE(e.shown(), (QStringList{"alpha", "beta.example.com"}));
    QVERIFY(e.dialogs().prompts.isEmpty());
    QVERIFY(e.list().items().isEmpty());
}

// A failed load keeps what is shown; a good one merges the file into the list
// and shows the list, dropping unsaved entries.
void TestFrmAddress::load()
{
    Editor e({"a"});
    e.add("unsaved");
    e.window->cmdLoad_Click();
    QCOMPARE(e.shown(), (QStringList{"a", "unsaved"}));
    QCOMPARE(e.lines().size(), 1);
    QVERIFY(e.lines()[0].sentence.endsWith(" does not exist.\r\n"));
    e.write("<Selmarin><Server>b</Server><Server>a</Server></Selmarin>");
    e.window->cmdLoad_Click();
    QCOMPARE(e.list().items(), (QStringList{"a", "b"}));
    QCOMPARE(e.shown(), (QStringList{"a", "b"}));
    QVERIFY(e.entryButtons());
}

// The list holds "a", the window shows a, b, A, b.  The answer to the save
// prompt picks merge (file first, then the missing shown entries, letter case
// counting; with no file, the shown entries) or overwrite (the shown entries,
// the old file kept as backup); anything else does nothing.
void TestFrmAddress::save_data()
{
    QTest::addColumn<bool>("folder");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<QStringList>("speakers");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("onDisk");
    QTest::addColumn<QByteArray>("backup");
    const QByteArray file = "<Selmarin><Server>a</Server><Server>f</Server></Selmarin>";
    const QStringList shown{"a", "b", "A", "b"}, none, unchanged{"a"};
    const QString saved = "Server list file was saved successfully";
    const QString info = "-- Info", loadError = "** Error 0x666";
    QTest::newRow("merge, no file") << true << QByteArray() << "M" << shown << QStringList{loadError, info} << saved << QStringList{"a", "b", "A"} << QByteArray();
    QTest::newRow("merge into file") << true << file << " m " << QStringList{"a", "f", "b", "A"} << QStringList{info} << saved << QStringList{"a", "f", "b", "A"} << QByteArray();
    QTest::newRow("overwrite") << true << file << "o" << shown << QStringList{info} << saved << QStringList{"a", "b", "A"} << file;
    QTest::newRow("cancelled") << true << QByteArray() << "" << unchanged << none << QString() << none << QByteArray();
    QTest::newRow("other letter") << true << QByteArray() << "X" << unchanged << none << QString() << none << QByteArray();
    QTest::newRow("word") << true << QByteArray() << "merge" << unchanged << none << QString() << none << QByteArray();
    QTest::newRow("no folder") << false << QByteArray() << "O" << shown << QStringList{"** Error 0x4C"}
        << "There was a problem saving the server list file.." << none << QByteArray();
}

void TestFrmAddress::save()
{
    QFETCH(bool, folder);
    QFETCH(QByteArray, file);
    QFETCH(QString, answer);
    QFETCH(QStringList, list);
    QFETCH(QStringList, speakers);
    QFETCH(QString, message);
    QFETCH(QStringList, onDisk);
    QFETCH(QByteArray, backup);
    Editor e({"a"}, folder);
    if (!file.isEmpty())
        e.write(file);
    for (const char *entry : {"b", "A", "b"})
        e.add(entry);
    e.dialogs().answers = {answer};
    e.window->cmdSave_Click();
    QCOMPARE(e.dialogs().prompts.last(), "Do you want to 'M'erge or 'O'verwite the existing file?");
    QCOMPARE(e.list().items(), list);
    QCOMPARE(e.shown(), (QStringList{"a", "b", "A", "b"})); // not refreshed by a save
    QStringList said;
    for (const PaneLine &line : e.lines())
        said << line.speaker;
    QCOMPARE(said, speakers);
    QCOMPARE(e.dialogs().messages, message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(e.read(".bak"), backup);
    QCOMPARE(QFileInfo::exists(e.path()), !file.isEmpty() || !onDisk.isEmpty());
    if (!onDisk.isEmpty()) {
        e.list().Clear();
        QVERIFY(LoadServers(e.list()));
        QCOMPARE(e.list().items(), onDisk);
    }
}

void TestFrmAddress::okMergesIgnoringLetterCase()
{
    Editor e({"Alpha", "deleted"});
    e.select(1);
    e.window->cmdDel_Click();
    for (const char *entry : {"ALPHA", "beta", "Beta"})
        e.add(entry);
    e.window->cmdOK_Click();
    QCOMPARE(e.list().items(), (QStringList{"Alpha", "deleted", "beta"}));
    QCOMPARE(e.window->result(), int(QDialog::Accepted));
}

// Cancel, Escape and the close box each hide the window and keep only what
// Load merged; the window is shown again as it was left, and a later OK takes
// the entry.
void TestFrmAddress::cancelKeepsLoadedEntriesAndShownState()
{
    Editor e;
    e.write("<Selmarin><Server>a</Server></Selmarin>");
    e.window->cmdLoad_Click();
    e.add("b");
    for (int way = 0; way < 3; ++way) {
        e.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(e.window.get()));
        if (way == 0)
            e.button("cmdCx")->click();
        else if (way == 1)
            QTest::keyClick(e.window.get(), Qt::Key_Escape);
        else
            e.window->close();
        QVERIFY(!e.window->isVisible());
        QCOMPARE(e.window->result(), int(QDialog::Rejected));
        QCOMPARE(e.list().items(), QStringList{"a"});
        QCOMPARE(e.shown(), (QStringList{"a", "b"}));
    }
    e.window->cmdOK_Click();
    QCOMPARE(e.list().items(), (QStringList{"a", "b"}));
}

void TestFrmAddress::remotesButtonRebuildsAddressBox()
{
    ServerFolder f;
    f.setList({"a", "b"});
    Globals &g = Globals::instance();
    g.LocIPs.clear();
    // The editor opens modally: a timer does what the user would, a second
    // one bounds the test should the first not reach the window.
    QTimer::singleShot(0, [&] {
        f.globals.dialogs->answers = {"c.example.com"};
        g.frmAddress().findChild<QPushButton *>("cmdAdd")->click();
        g.frmAddress().findChild<QPushButton *>("cmdOK")->click();
    });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [&] { if (g.hasFrmAddress()) g.frmAddress().done(QDialog::Rejected); });
    guard.start(5000);
    g.frmMain().cmdRemotes_Click();
    QVERIFY(guard.isActive());
    QComboBox *box = g.frmMain().findChild<QComboBox *>("cboRemAddress");
    QStringList offered;
    for (int i = 0; box && i < box->count(); ++i)
        offered.append(box->itemText(i));
    QCOMPARE(offered, (QStringList{"a", "b", "c.example.com"}));
    // Close the main window while the globals are whole: its closing writes
    // the log's last line, which must not reach for the globals as they go.
    g.frmMain().Form_Unload();
}

QTEST_MAIN(TestFrmAddress)
#include "tst_frmaddress.moc"

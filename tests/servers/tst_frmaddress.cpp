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

const QString SavePrompt = QStringLiteral("Do you want to 'M'erge or 'O'verwite the existing file?");
const QString Saved = QStringLiteral("Server list file was saved successfully");
const QString NotSaved = QStringLiteral("There was a problem saving the server list file..");

struct Editor : ServerFolder
{
    std::unique_ptr<FrmAddress> window;

    explicit Editor(const QStringList &list = {}, bool makeFolder = true) : ServerFolder(makeFolder)
    {
        setList(list);
        window = std::make_unique<FrmAddress>();
    }
    ScriptedDialogs &dialogs() { return *globals.dialogs; }
    void answer(const QStringList &answers) { dialogs().answers = answers; }
    QPushButton *button(const char *name) { return window->findChild<QPushButton *>(name); }
    QListWidget *entries() { return window->findChild<QListWidget *>("lstRemotes"); }
    void select(int row) { entries()->setCurrentRow(row); }
    // Edit, Del and Save: the three buttons that follow the entries.
    bool entryButtons()
    {
        const bool edit = button("cmdEdit")->isEnabled();
        if (button("cmdDel")->isEnabled() != edit || button("cmdSave")->isEnabled() != edit)
            qFatal("Edit, Del and Save disagree");
        return edit;
    }
    void add(const QString &text)
    {
        answer({text});
        window->cmdAdd_Click();
    }
};

} // namespace

class TestFrmAddress : public QObject
{
    Q_OBJECT
private slots:
    void form();
    void enabledStateFollowsEntries();
    void loadStepShowsServerList();
    void addAndEditRefusedSilently_data();
    void addAndEditRefusedSilently();
    void addDuplicateAndEdit();
    void editAndDelWithoutSelection();
    void loadMergesFileAndShowsList();
    void loadFailureKeepsShownEntries();
    void saveMergeWithoutFile();
    void saveMergeAppendsMissingEntries();
    void saveOverwrite();
    void saveOtherAnswersDoNothing_data();
    void saveOtherAnswersDoNothing();
    void saveMissingFolder();
    void okMergesIgnoringLetterCase();
    void cancelKeepsLoadedEntriesAndShownState();
    void escapeAndCloseBoxCancel();
    void remotesButtonRebuildsAddressBox();
};

void TestFrmAddress::form()
{
    Editor e;
    QCOMPARE(e.window->windowTitle(), QStringLiteral("Addresses"));
    QVERIFY(e.button("cmdOK")->isDefault());
    const QStringList captions{"&Add", "&Edit", "&Del", "&Load", "&Save", "&OK", "&Cancel"};
    const QStringList names{"cmdAdd", "cmdEdit", "cmdDel", "cmdLoad", "cmdSave", "cmdOK", "cmdCx"};
    for (int i = 0; i < names.size(); ++i)
        QCOMPARE(e.button(names[i].toLatin1())->text(), captions[i]);
    QCOMPARE(e.window->findChild<QWidget *>("frmHostName")->property("title").toString(),
             QStringLiteral("Address List"));
}

void TestFrmAddress::enabledStateFollowsEntries()
{
    Editor e;
    QVERIFY(!e.entryButtons());
    QVERIFY(e.button("cmdAdd")->isEnabled() && e.button("cmdLoad")->isEnabled());
    e.add("alpha");
    QVERIFY(e.entryButtons());
    e.select(0);
    e.window->cmdDel_Click();
    QCOMPARE(e.entries()->count(), 0);
    QVERIFY(!e.entryButtons());
}

void TestFrmAddress::loadStepShowsServerList()
{
    Editor e({"a", "b"});
    QCOMPARE(e.window->shownEntries(), (QStringList{"a", "b"}));
    QVERIFY(e.entryButtons());
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
    e.answer({typed});
    e.window->cmdEdit_Click();
    QCOMPARE(e.window->shownEntries(), QStringList{"alpha"});
    QVERIFY(e.dialogs().messages.isEmpty());
    QVERIFY(e.lines().isEmpty());
    QCOMPARE(e.dialogs().prompts, (QStringList{"Enter the server name or IP address",
                                               "Change the server name or IP address"}));
}

void TestFrmAddress::addDuplicateAndEdit()
{
    Editor e;
    e.add("alpha");
    e.add("alpha");
    QCOMPARE(e.window->shownEntries(), (QStringList{"alpha", "alpha"}));
    e.select(1);
    e.answer({"beta.example.com"});
    e.window->cmdEdit_Click();
    QCOMPARE(e.window->shownEntries(), (QStringList{"alpha", "beta.example.com"}));
    QVERIFY(e.list().items().isEmpty());
}

void TestFrmAddress::editAndDelWithoutSelection()
{
    Editor e({"a", "b"});
    e.entries()->clearSelection();
    e.answer({"gamma"});
    e.window->cmdEdit_Click();
    e.window->cmdDel_Click();
    QCOMPARE(e.window->shownEntries(), (QStringList{"a", "b"}));
    QVERIFY(e.dialogs().prompts.isEmpty());
}

void TestFrmAddress::loadMergesFileAndShowsList()
{
    Editor e;
    e.add("unsaved");
    e.write("<Selmarin><Server>a</Server><Server>b</Server></Selmarin>");
    e.window->cmdLoad_Click();
    QCOMPARE(e.list().items(), (QStringList{"a", "b"}));
    QCOMPARE(e.window->shownEntries(), (QStringList{"a", "b"}));
    QVERIFY(e.entryButtons());
}

void TestFrmAddress::loadFailureKeepsShownEntries()
{
    Editor e({"a"});
    e.add("shown");
    e.window->cmdLoad_Click();
    QCOMPARE(e.window->shownEntries(), (QStringList{"a", "shown"}));
    QCOMPARE(e.lines().size(), 1);
    QVERIFY(e.lines()[0].sentence.endsWith(" does not exist.\r\n"));
}

void TestFrmAddress::saveMergeWithoutFile()
{
    Editor e({"old"});
    e.add("alpha");
    e.add("alpha");
    e.answer({"M"});
    e.window->cmdSave_Click();
    QCOMPARE(e.dialogs().prompts.last(), SavePrompt);
    QCOMPARE(e.lines().size(), 2);
    QCOMPARE(e.lines()[0].text(), "** Error 0x666:\t in mdlMain.LoadServers; " + e.path() + " does not exist.\r\n");
    QCOMPARE(e.lines()[1].text(), "-- Info:\tServers list saved as " + e.path() + "\r\n");
    QCOMPARE(e.list().items(), (QStringList{"old", "alpha", "alpha"}));
    QCOMPARE(e.dialogs().messages, QStringList{Saved});
    QVERIFY(QFileInfo(e.path()).isFile());
}

void TestFrmAddress::saveMergeAppendsMissingEntries()
{
    Editor e({"a"});
    e.write("<Selmarin><Server>a</Server><Server>f</Server></Selmarin>");
    e.add("b");
    e.add("A");
    e.answer({" m "});
    e.window->cmdSave_Click();
    QCOMPARE(e.list().items(), (QStringList{"a", "f", "b", "A"}));
    // The shown entries are not refreshed by a save.
    QCOMPARE(e.window->shownEntries(), (QStringList{"a", "b", "A"}));
    QCOMPARE(e.dialogs().messages, QStringList{Saved});
    e.list().Clear();
    QVERIFY(LoadServers(e.list()));
    QCOMPARE(e.list().items(), (QStringList{"a", "f", "b", "A"}));
}

void TestFrmAddress::saveOverwrite()
{
    Editor e({"x", "y", "z"});
    const QByteArray old = "<Selmarin><Server>x</Server><Server>gone</Server></Selmarin>";
    e.write(old);
    e.select(0);
    e.window->cmdDel_Click();
    e.add("w");
    e.answer({"o"});
    e.window->cmdSave_Click();
    QCOMPARE(e.list().items(), (QStringList{"y", "z", "w"}));
    QCOMPARE(e.dialogs().messages, QStringList{Saved});
    QCOMPARE(e.read(".bak"), old);
    e.list().Clear();
    QVERIFY(LoadServers(e.list()));
    QCOMPARE(e.list().items(), (QStringList{"y", "z", "w"}));
}

void TestFrmAddress::saveOtherAnswersDoNothing_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("cancelled") << "";
    QTest::newRow("other letter") << "X";
    QTest::newRow("word") << "merge";
}

void TestFrmAddress::saveOtherAnswersDoNothing()
{
    QFETCH(QString, answer);
    Editor e({"a"});
    e.add("b");
    e.answer({answer});
    e.window->cmdSave_Click();
    QCOMPARE(e.list().items(), QStringList{"a"});
    QVERIFY(e.dialogs().messages.isEmpty());
    QVERIFY(e.lines().isEmpty());
    QVERIFY(!QFileInfo::exists(e.path()));
}

void TestFrmAddress::saveMissingFolder()
{
    Editor e({"a"}, false);
    e.answer({"O"});
    e.window->cmdSave_Click();
    QCOMPARE(e.dialogs().messages, QStringList{NotSaved});
    QCOMPARE(e.lines().last().speaker, QStringLiteral("** Error 0x4C"));
}

void TestFrmAddress::okMergesIgnoringLetterCase()
{
    Editor e({"Alpha", "deleted"});
    e.select(1);
    e.window->cmdDel_Click();
    e.add("ALPHA");
    e.add("beta");
    e.add("Beta");
    e.window->cmdOK_Click();
    QCOMPARE(e.list().items(), (QStringList{"Alpha", "deleted", "beta"}));
    QCOMPARE(e.window->result(), int(QDialog::Accepted));
}

void TestFrmAddress::cancelKeepsLoadedEntriesAndShownState()
{
    Editor e;
    e.write("<Selmarin><Server>a</Server></Selmarin>");
    e.window->cmdLoad_Click();
    e.add("b");
    e.window->cmdCx_Click();
    QCOMPARE(e.window->result(), int(QDialog::Rejected));
    QCOMPARE(e.list().items(), QStringList{"a"});
    // Shown again as it was left; a later OK takes the entry.
    QCOMPARE(e.window->shownEntries(), (QStringList{"a", "b"}));
    e.window->cmdOK_Click();
    QCOMPARE(e.list().items(), (QStringList{"a", "b"}));
}

void TestFrmAddress::escapeAndCloseBoxCancel()
{
    Editor e;
    e.add("a");
    e.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(e.window.get()));
    QTest::keyClick(e.window.get(), Qt::Key_Escape);
    QVERIFY(!e.window->isVisible());
    e.window->show();
    e.window->close();
    QVERIFY(!e.window->isVisible());
    QVERIFY(e.list().items().isEmpty());
}

void TestFrmAddress::remotesButtonRebuildsAddressBox()
{
    ServerFolder f;
    f.setList({"a", "b"});
    Globals &g = Globals::instance();
    FrmMain &main = g.frmMain();
    g.LocIPs.clear();
    // The editor opens modally; a timer does what the user would, and a
    // second one bounds the test should the first not reach the window.
    QTimer::singleShot(0, [&] {
        FrmAddress &editor = g.frmAddress();
        f.globals.dialogs->answers = {"c.example.com"};
        editor.findChild<QPushButton *>("cmdAdd")->click();
        editor.findChild<QPushButton *>("cmdOK")->click();
    });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [&] {
        if (g.hasFrmAddress())
            g.frmAddress().done(QDialog::Rejected);
    });
    guard.start(5000);
    main.cmdRemotes_Click();
    QVERIFY(guard.isActive());
    QComboBox *box = main.findChild<QComboBox *>("cboRemAddress");
    QVERIFY(box);
    QStringList offered;
    for (int i = 0; i < box->count(); ++i)
        offered.append(box->itemText(i));
    QCOMPARE(offered, (QStringList{"a", "b", "c.example.com"}));

    // Close the main window while the globals are whole: its closing writes
    // the log's last line, which must not reach for the globals as they go.
    main.Form_Unload();
}

QTEST_MAIN(TestFrmAddress)
#include "tst_frmaddress.moc"

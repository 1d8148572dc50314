// LoadServers and SaveServers on real files in a temporary program folder.

#include "serverfixture.h"

#include "servers/serverfile.h"

#include <QDomDocument>
#include <QElapsedTimer>
#include <QFileInfo>

namespace {

QByteArray ServersXml(const QStringList &entries)
{
    return "<Selmarin><Server>" + entries.join("</Server><Server>").toUtf8() + "</Server></Selmarin>";
}

QByteArray BillionLaughs()
{
    QByteArray xml = "<?xml version=\"1.0\"?><!DOCTYPE Selmarin [<!ENTITY a0 \"lol\">";
    for (int i = 1; i < 10; ++i)
        xml += "<!ENTITY a" + QByteArray::number(i) + " \"" + ("&a" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
    return xml + "]><Selmarin><Server>&a9;</Server></Selmarin>";
}

// The direct children of the document element: "#text" for a comment, "Tag=text" for an element.
QStringList FileChildren(const QByteArray &bytes)
{
    QDomDocument doc;
    if (!doc.setContent(bytes))
        return {"<not loadable>"};
    QStringList children;
    for (QDomNode n = doc.documentElement().firstChild(); !n.isNull(); n = n.nextSibling())
        if (n.isComment() || n.isElement())
            children.append(n.isComment() ? u'#' + n.nodeValue() : n.nodeName() + u'=' + n.toElement().text());
    return children;
}

const QString Comment = "#This file maintains the server list for Selmarin.exe";
const QString Failed = "Failed to load %1";
const QString WrongRoot = "Root Node in servers file must be <Selmarin>";
enum Setup { WriteFile, NoFile, NoFolder };

} // namespace

class TestServerFile : public QObject
{
    Q_OBJECT
private slots:
    void load_data();
    void load();
    void unsetProgramFilesUsesDataHome();
    void walkStopsPast32766();
    void saveNewFileAndLoadBack_data();
    void saveNewFileAndLoadBack();
    void saveMergesIntoFile();
    void saveRefuses_data();
    void saveRefuses();
    void overwriteKeepsBackup_data();
    void overwriteKeepsBackup();
};

// The list holds "Host" when the file is read.  A file that loads is merged in
// file order, skipping entries already there (letter case counts), without a
// line.  A refused one, hostile ones among them, is refused quickly with one
// error line and leaves the list as it was; "%1" in the error is the path.
void TestServerFile::load_data()
{
    QTest::addColumn<int>("setup");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QString>("error");
    const QStringList kept{"Host"};
    const QString entities = Failed + " (entity declarations are not accepted)";
    const QString tooMany = Failed + " (the file holds more than 100000 elements or other nodes)";
    const QByteArray one = "<Selmarin><Server>x</Server>";
    QTest::newRow("order and duplicates") << int(WriteFile) << ServersXml({"a", "Host", "a", "c"}) << QStringList{"Host", "a", "c"} << "";
    QTest::newRow("letter case counts") << int(WriteFile) << ServersXml({"host", "HOST", "Host"}) << QStringList{"Host", "host", "HOST"} << "";
    QTest::newRow("declaration, indentation, blanks trimmed") << int(WriteFile)
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Selmarin>\n  <Server>\n    alpha\n  </Server>\n  <Server>beta</Server>\n</Selmarin>\n")
        << QStringList{"Host", "alpha", "beta"} << "";
    QTest::newRow("other nodes ignored") << int(WriteFile)
        << QByteArray("<!DOCTYPE Selmarin><Selmarin><!-- note --><Other>x</Other><Group><Server>deep</Server></Group><Server>top</Server></Selmarin>")
        << QStringList{"Host", "top"} << "";
    QTest::newRow("declared Latin-1") << int(WriteFile)
        << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Selmarin><Server>h\xe9</Server></Selmarin>")
        << QStringList{"Host", QStringLiteral("h\u00e9")} << "";
    QTest::newRow("no file") << int(NoFile) << QByteArray() << kept << "%1 does not exist.";
    QTest::newRow("no folder") << int(NoFolder) << QByteArray() << kept << "%1 does not exist.";
    QTest::newRow("not well-formed") << int(WriteFile) << QByteArray("<Selmarin><Server>a</Selmarin>") << kept << Failed;
    QTest::newRow("empty file") << int(WriteFile) << QByteArray() << kept << Failed;
    QTest::newRow("bytes invalid in UTF-8") << int(WriteFile) << QByteArray("<Selmarin><Server>h\xe9</Server></Selmarin>") << kept << Failed;
    QTest::newRow("undeclared entity") << int(WriteFile) << QByteArray("<Selmarin><Server>&x;</Server></Selmarin>") << kept << Failed;
    QTest::newRow("wrong document element") << int(WriteFile) << ServersXml({"a"}).replace("Selmarin", "Servers") << kept << WrongRoot;
    QTest::newRow("element name letter case") << int(WriteFile) << ServersXml({"a"}).replace("Selmarin", "selmarin") << kept << WrongRoot;
    QTest::newRow("Server elements only nested") << int(WriteFile)
        << QByteArray("<Selmarin><Group><Server>a</Server></Group><server>b</server></Selmarin>") << kept
        << "There must be at least one \"Servers\" node";
    QTest::newRow("billion laughs") << int(WriteFile) << BillionLaughs() << kept << entities;
    QTest::newRow("wide entity") << int(WriteFile) << "<!DOCTYPE Selmarin [<!ENTITY e \"" + QByteArray(4000, 'x')
        + "\">]><Selmarin><Server>" + QByteArray("&e;").repeated(200000) + "</Server></Selmarin>" << kept << entities;
    QTest::newRow("100000 nested elements") << int(WriteFile) << "<Selmarin>" + QByteArray("<a>").repeated(100000)
        + QByteArray("</a>").repeated(100000) + "<Server>x</Server></Selmarin>" << kept << Failed + " (elements are nested more than 256 deep)";
    QTest::newRow("a million empty elements") << int(WriteFile) << one + QByteArray("<a/>").repeated(1000000) + "</Selmarin>" << kept << tooMany;
    QTest::newRow("half a million comments") << int(WriteFile) << one + QByteArray("<!---->").repeated(500000) + "</Selmarin>" << kept << tooMany;
    QTest::newRow("50 MB file") << int(WriteFile) << "<Selmarin>" + QByteArray("<Server>host</Server>").repeated(50 * 1024 * 1024 / 21)
        + "</Selmarin>" << kept << Failed + " (the file is larger than 4 MB)";
}

void TestServerFile::load()
{
    QFETCH(int, setup);
    QFETCH(QByteArray, file);
    QFETCH(QStringList, after);
    QFETCH(QString, error);
    ServerFolder f(setup != NoFolder);
    f.setList({"Host"});
    if (setup == WriteFile)
        f.write(file);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(LoadServers(f.list()), error.isEmpty());
    QVERIFY2(timer.elapsed() < 3000, "a refused file must be refused quickly");
    QCOMPARE(f.list().items(), after);
    QCOMPARE(f.lines().size(), error.isEmpty() ? 0 : 1);
    if (!error.isEmpty())
        QCOMPARE(f.lines()[0].text(), "** Error 0x666:\t in mdlMain.LoadServers; " + error.replace("%1", f.path()) + "\r\n");
    QCOMPARE(QFileInfo::exists(f.path()), setup == WriteFile);
}

void TestServerFile::unsetProgramFilesUsesDataHome()
{
    ServerFolder f(false);
    f.globals.env->variables.remove("PROGRAMFILES");
    f.globals.env->data = f.temp.path() + "/data";
    const QString path = f.temp.path() + "/data/Selmarin/Servers.xml";
    QCOMPARE(ServersFilePath(), path);
    f.setList({"a"});
    QVERIFY(SaveServers(f.list()));
    QVERIFY(QFileInfo(path).isFile());
    QCOMPARE(f.lines().last().sentence, "Servers list saved as " + path + "\r\n");
}

// 32766 entries load; past that the walk stops with Overflow, keeping what it merged.
void TestServerFile::walkStopsPast32766()
{
    QStringList many;
    for (int i = 1; i <= 32770; ++i)
        many.append(QStringLiteral("h%1").arg(i));
    ServerFolder f;
    f.write(ServersXml(many.mid(0, 32766)));
    QVERIFY(LoadServers(f.list()));
    QCOMPARE(f.list().Count(), 32766);
    f.list().Clear();
    f.write(ServersXml(many));
    QVERIFY(!LoadServers(f.list()));
    QCOMPARE(f.lines().size(), 1);
    QCOMPARE(f.lines()[0].text(), "** Error 0x6:\t in mdlMain.LoadServers; Overflow\r\n");
    QCOMPARE(f.list().Count(), 32767);
    QCOMPARE(f.list().Item(32767), "h32767");
}

// A new file: the comment, one element per entry with duplicates, no
// declaration, the info line; it loads back less the duplicates, and saving
// that again changes nothing on disk.
void TestServerFile::saveNewFileAndLoadBack_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("duplicates and letter case") << QStringList{"a", "b", "a", "A"};
    QTest::newRow("characters to escape") << QStringList{"a&b<c>\"d'", QStringLiteral("h\u00e9\u4e2d")};
    QTest::newRow("empty list") << QStringList{};
}

void TestServerFile::saveNewFileAndLoadBack()
{
    QFETCH(QStringList, entries);
    ServerFolder f;
    f.setList(entries);
    QVERIFY(SaveServers(f.list()));
    const QByteArray bytes = f.read();
    QStringList children{Comment};
    for (const QString &e : entries)
        children << "Server=" + e;
    QCOMPARE(FileChildren(bytes), children);
    QVERIFY(!bytes.startsWith("<?xml"));
    QCOMPARE(f.list().items(), entries);
    QCOMPARE(f.lines().size(), 1);
    QCOMPARE(f.lines()[0].text(), "-- Info:\tServers list saved as " + f.path() + "\r\n");
    if (entries.isEmpty())
        return; // a file without entries does not load
    f.setList({});
    QVERIFY(LoadServers(f.list()));
    entries.removeDuplicates();
    QCOMPARE(f.list().items(), entries);
    QVERIFY(SaveServers(f.list()));
    QCOMPARE(f.read(), bytes);
}

// Entries missing from the file are appended, case-sensitively, after what
// it holds; with nothing to add the file is still written and reported.
void TestServerFile::saveMergesIntoFile()
{
    ServerFolder f;
    f.write("<Selmarin><!-- mine --><Other>x</Other><Server>a</Server><Server>B</Server></Selmarin>");
    f.setList({"b", "a", "c", "b"});
    const QStringList merged{"# mine ", "Other=x", "Server=a", "Server=B", "Server=b", "Server=c"};
    for (int round = 0; round < 2; ++round) {
        f.lines().clear();
        QVERIFY(SaveServers(f.list()));
        QCOMPARE(FileChildren(f.read()), merged);
        QCOMPARE(f.lines().size(), 1);
        QCOMPARE(f.lines()[0].speaker, "-- Info");
    }
    QVERIFY(!QFileInfo::exists(f.path() + ".bak"));
}

// A merge into a file that does not load, into a missing folder, or of text
// XML cannot hold: one error line, the file (or its absence) as it was.
void TestServerFile::saveRefuses_data()
{
    QTest::addColumn<int>("setup");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("text");
    const QString error = "** Error 0x666:\t in mdlMain.SaveServers; ";
    QTest::newRow("not well-formed") << int(WriteFile) << QByteArray("<Selmarin><Server>a</Server>") << "a" << error + Failed;
    QTest::newRow("wrong document element") << int(WriteFile) << QByteArray("<Servers><Server>a</Server></Servers>") << "a" << error + WrongRoot;
    QTest::newRow("entities") << int(WriteFile) << BillionLaughs() << "a" << error + Failed + " (entity declarations are not accepted)";
    QTest::newRow("no folder") << int(NoFolder) << QByteArray() << "a" << "** Error 0x4C:\t in mdlMain.SaveServers; Path not found";
    QTest::newRow("control character") << int(NoFile) << QByteArray() << "bad\x01"
        << error + "The server list cannot be written as a file that loads again";
}

void TestServerFile::saveRefuses()
{
    QFETCH(int, setup);
    QFETCH(QByteArray, file);
    QFETCH(QString, entry);
    QFETCH(QString, text);
    ServerFolder f(setup != NoFolder);
    if (setup == WriteFile)
        f.write(file);
    f.setList({entry});
    QVERIFY(!SaveServers(f.list()));
    QCOMPARE(f.read(), file);
    QCOMPARE(QFileInfo::exists(f.path()), setup == WriteFile);
    QCOMPARE(f.list().items(), QStringList{entry});
    QCOMPARE(f.lines().size(), 1);
    QCOMPARE(f.lines()[0].text(), text.replace("%1", f.path()) + "\r\n");
}

// Overwrite writes the list as it is and keeps the file it replaces, if any, as the backup.
void TestServerFile::overwriteKeepsBackup_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("no file") << QByteArray();
    QTest::newRow("file that loads") << ServersXml({"x", "a"});
    QTest::newRow("file that does not load") << QByteArray("<Selmarin><Server>");
}

void TestServerFile::overwriteKeepsBackup()
{
    QFETCH(QByteArray, file);
    ServerFolder f;
    if (!file.isEmpty())
        f.write(file);
    QFile oldBackup(f.path() + ".bak");
    QVERIFY(oldBackup.open(QIODevice::WriteOnly) && oldBackup.write("older") == 5);
    oldBackup.close();
    f.setList({"a", "b", "a"});
    QVERIFY(SaveServers(f.list(), SaveMode::Overwrite));
    QCOMPARE(FileChildren(f.read()), (QStringList{Comment, "Server=a", "Server=b", "Server=a"}));
    QCOMPARE(f.read(".bak"), file.isEmpty() ? QByteArray("older") : file);
    QCOMPARE(f.lines().last().speaker, "-- Info");
}

QTEST_GUILESS_MAIN(TestServerFile)
#include "tst_serverfile.moc"

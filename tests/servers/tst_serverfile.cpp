// LoadServers and SaveServers on real files in a temporary program folder.

#include "serverfixture.h"

#include "servers/serverfile.h"

#include <QDomDocument>
#include <QElapsedTimer>
#include <QFileInfo>

#include <sys/resource.h>

Q_DECLARE_METATYPE(QList<QByteArray>)

namespace {

QByteArray ServersXml(const QStringList &entries)
{
    QByteArray xml = "<Selmarin>";
    for (const QString &e : entries)
        xml += "<Server>" + e.toUtf8() + "</Server>";
    return xml + "</Selmarin>";
}

QByteArray BillionLaughs()
{
    QByteArray xml = "<?xml version=\"1.0\"?><!DOCTYPE Selmarin [<!ENTITY a0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        xml += "<!ENTITY a" + QByteArray::number(i) + " \"";
        for (int k = 0; k < 10; ++k)
            xml += "&a" + QByteArray::number(i - 1) + ";";
        xml += "\">";
    }
    return xml + "]><Selmarin><Server>&a9;</Server></Selmarin>";
}

// Many references to one entity that stays under a per-entity limit.
QByteArray WideEntity()
{
    QByteArray xml = "<!DOCTYPE Selmarin [<!ENTITY e \"" + QByteArray(4000, 'x') + "\">]><Selmarin><Server>";
    for (int i = 0; i < 200000; ++i)
        xml += "&e;";
    return xml + "</Server></Selmarin>";
}

QByteArray DeepNesting(int depth)
{
    return "<Selmarin>" + QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth)
           + "<Server>x</Server></Selmarin>";
}

long MaxRssKb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The texts of the direct children of the document element, comments as "#".
QStringList FileChildren(const QByteArray &bytes)
{
    QDomDocument doc;
    if (!doc.setContent(bytes))
        return {QStringLiteral("<not loadable>")};
    QStringList children;
    for (QDomNode n = doc.documentElement().firstChild(); !n.isNull(); n = n.nextSibling()) {
        if (n.isComment())
            children.append(u'#' + n.nodeValue());
        else if (n.isElement())
            children.append(n.toElement().tagName() + u'=' + n.toElement().text());
    }
    return children;
}

const QString Comment = QStringLiteral("#This file maintains the server list for Selmarin.exe");

} // namespace

class TestServerFile : public QObject
{
    Q_OBJECT
private slots:
    void loadMerges_data();
    void loadMerges();
    void loadRefuses_data();
    void loadRefuses();
    void loadTwiceAddsNothing();
    void loadMissingFileOrFolder_data();
    void loadMissingFileOrFolder();
    void unsetProgramFilesUsesDataHome();
    void walkStopsPast32766();
    void saveNewFile_data();
    void saveNewFile();
    void saveMergesIntoFile();
    void saveKeepsFileThatDoesNotLoad_data();
    void saveKeepsFileThatDoesNotLoad();
    void overwriteKeepsBackup_data();
    void overwriteKeepsBackup();
    void saveMissingFolder();
    void saveRefusesTextXmlCannotHold();
    void roundTrip();
};

void TestServerFile::loadMerges_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("after");

    QTest::newRow("order and duplicates") << QStringList{"b"}
        << ServersXml({"a", "b", "a", "c"}) << QStringList{"b", "a", "c"};
    QTest::newRow("letter case counts") << QStringList{"Host"}
        << ServersXml({"host", "HOST", "Host"}) << QStringList{"Host", "host", "HOST"};
    QTest::newRow("declaration, indentation, blanks trimmed") << QStringList{}
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Selmarin>\n  <Server>\n    alpha\n  </Server>\n  <Server>beta</Server>\n</Selmarin>\n")
        << QStringList{"alpha", "beta"};
    QTest::newRow("other nodes ignored") << QStringList{}
        << QByteArray("<!DOCTYPE Selmarin><Selmarin><!-- note --><Other>x</Other><Group><Server>deep</Server></Group><Server>top</Server></Selmarin>")
        << QStringList{"top"};
    QTest::newRow("declared Latin-1") << QStringList{}
        << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Selmarin><Server>h\xe9</Server></Selmarin>")
        << QStringList{QStringLiteral("h\u00e9")};
}

void TestServerFile::loadMerges()
{
    QFETCH(QStringList, before);
    QFETCH(QByteArray, file);
    QFETCH(QStringList, after);
    ServerFolder f;
    f.setList(before);
    f.write(file);
    QVERIFY(LoadServers(f.list()));
    QCOMPARE(f.list().items(), after);
    QVERIFY(f.lines().isEmpty());
}

void TestServerFile::loadRefuses_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("description");  // "%1" stands for the path

    const QString failed = QStringLiteral("Failed to load %1");
    QTest::newRow("not well-formed") << QByteArray("<Selmarin><Server>a</Selmarin>") << failed;
    QTest::newRow("empty file") << QByteArray() << failed;
    QTest::newRow("bytes invalid in UTF-8") << QByteArray("<Selmarin><Server>h\xe9</Server></Selmarin>") << failed;
    QTest::newRow("undeclared entity") << QByteArray("<Selmarin><Server>&x;</Server></Selmarin>") << failed;
    QTest::newRow("wrong document element") << ServersXml({"a"}).replace("Selmarin", "Servers")
        << QStringLiteral("Root Node in servers file must be <Selmarin>");
    QTest::newRow("element name letter case") << ServersXml({"a"}).replace("Selmarin", "selmarin")
        << QStringLiteral("Root Node in servers file must be <Selmarin>");
    QTest::newRow("Server elements only nested") << QByteArray("<Selmarin><Group><Server>a</Server></Group><server>b</server></Selmarin>")
        << QStringLiteral("There must be at least one \"Servers\" node");
    QTest::newRow("billion laughs") << BillionLaughs()
        << failed + QStringLiteral(" (entity declarations are not accepted)");
    QTest::newRow("wide entity") << WideEntity()
        << failed + QStringLiteral(" (entity declarations are not accepted)");
    QTest::newRow("100000 nested elements") << DeepNesting(100000)
        << failed + QStringLiteral(" (elements are nested more than 256 deep)");
    QTest::newRow("a million empty elements") << "<Selmarin><Server>x</Server>" + QByteArray("<a/>").repeated(1000000) + "</Selmarin>"
        << failed + QStringLiteral(" (the file holds more than 100000 elements or other nodes)");
    QTest::newRow("a million comments") << "<Selmarin><Server>x</Server>" + QByteArray("<!---->").repeated(500000) + "</Selmarin>"
        << failed + QStringLiteral(" (the file holds more than 100000 elements or other nodes)");
    QByteArray big = "<Selmarin>" + QByteArray("<Server>host</Server>").repeated(50 * 1024 * 1024 / 21) + "</Selmarin>";
    QTest::newRow("50 MB file") << big << failed + QStringLiteral(" (the file is larger than 4 MB)");
}

void TestServerFile::loadRefuses()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, description);
    ServerFolder f;
    f.setList({"kept"});
    f.write(file);

    const long rssBefore = MaxRssKb();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!LoadServers(f.list()));
    const qint64 ms = timer.elapsed();
    qInfo("%s: %lld ms, peak memory grew by %ld kB", QTest::currentDataTag(), ms, MaxRssKb() - rssBefore);
    QVERIFY2(ms < 3000, "a refused file must be refused quickly");

    QCOMPARE(f.list().items(), QStringList{"kept"});
    QCOMPARE(f.lines().size(), 1);
    QCOMPARE(f.lines()[0].speaker, QStringLiteral("** Error 0x666"));
    QCOMPARE(f.lines()[0].sentence, FileErrorSentence("LoadServers", description.arg(f.path())));
}

void TestServerFile::loadTwiceAddsNothing()
{
    ServerFolder f;
    f.write(ServersXml({"a", "b"}));
    QVERIFY(LoadServers(f.list()));
    f.list().Add("local");
    QVERIFY(LoadServers(f.list()));
    QCOMPARE(f.list().items(), (QStringList{"a", "b", "local"}));
}

void TestServerFile::loadMissingFileOrFolder_data()
{
    QTest::addColumn<bool>("makeFolder");
    QTest::newRow("no file") << true;
    QTest::newRow("no folder") << false;
}

void TestServerFile::loadMissingFileOrFolder()
{
    QFETCH(bool, makeFolder);
    ServerFolder f(makeFolder);
    f.setList({"kept"});
    QVERIFY(!LoadServers(f.list()));
    QCOMPARE(f.list().items(), QStringList{"kept"});
    QCOMPARE(f.lines().size(), 1);
    QCOMPARE(f.lines()[0].text(), QStringLiteral("** Error 0x666:\t in mdlMain.LoadServers; ")
                                      + f.path() + QStringLiteral(" does not exist.\r\n"));
    QVERIFY(!QFileInfo::exists(f.path()));
}

void TestServerFile::unsetProgramFilesUsesDataHome()
{
    ServerFolder f(false);
    f.globals.env->variables.remove(QStringLiteral("PROGRAMFILES"));
    f.globals.env->data = f.temp.path() + QStringLiteral("/data");
    const QString path = f.temp.path() + QStringLiteral("/data/Selmarin/Servers.xml");
    QCOMPARE(ServersFilePath(), path);

    QVERIFY(!LoadServers(f.list()));
    QCOMPARE(f.lines()[0].sentence, FileErrorSentence("LoadServers", path + " does not exist."));
    f.setList({"a"});
    QVERIFY(SaveServers(f.list()));
    QVERIFY(QFileInfo(path).isFile());
    QCOMPARE(f.lines().last().sentence, QStringLiteral("Servers list saved as ") + path + "\r\n");
}

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
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!LoadServers(f.list()));
    qInfo("32770 entries: %lld ms", timer.elapsed());
    QCOMPARE(f.lines().size(), 1);
    QCOMPARE(f.lines()[0].text(), QStringLiteral("** Error 0x6:\t in mdlMain.LoadServers; Overflow\r\n"));
    // What was merged before the stop stays.
    QCOMPARE(f.list().Count(), 32767);
    QCOMPARE(f.list().Item(32767), QStringLiteral("h32767"));
}

void TestServerFile::saveNewFile_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("duplicates kept") << QStringList{"a", "b", "a"};
    QTest::newRow("empty list") << QStringList{};
}

void TestServerFile::saveNewFile()
{
    QFETCH(QStringList, entries);
    ServerFolder f;
    f.setList(entries);
    QVERIFY(SaveServers(f.list()));

    QStringList expected{Comment};
    for (const QString &e : entries)
        expected.append("Server=" + e);
    const QByteArray bytes = f.read();
    QCOMPARE(FileChildren(bytes), expected);
    QVERIFY(!bytes.startsWith("<?xml"));
    QCOMPARE(f.list().items(), entries);
    QCOMPARE(f.lines().size(), 1);
    QCOMPARE(f.lines()[0].text(), QStringLiteral("-- Info:\tServers list saved as ") + f.path() + "\r\n");
}

void TestServerFile::saveMergesIntoFile()
{
    ServerFolder f;
    f.write("<Selmarin><!-- mine --><Other>x</Other><Server>a</Server><Server>B</Server></Selmarin>");
    f.setList({"b", "a", "c", "b"});
    QVERIFY(SaveServers(f.list()));
    const QStringList merged{"# mine ", "Other=x", "Server=a", "Server=B", "Server=b", "Server=c"};
    QCOMPARE(FileChildren(f.read()), merged);

    // Nothing to add: the file is still written and reported.
    f.lines().clear();
    QVERIFY(SaveServers(f.list()));
    QCOMPARE(FileChildren(f.read()), merged);
    QCOMPARE(f.lines().size(), 1);
    QCOMPARE(f.lines()[0].speaker, QStringLiteral("-- Info"));
    QVERIFY(!QFileInfo::exists(f.path() + ".bak"));
}

void TestServerFile::saveKeepsFileThatDoesNotLoad_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("description");
    QTest::newRow("not well-formed") << QByteArray("<Selmarin><Server>a</Server>") << "Failed to load %1";
    QTest::newRow("wrong document element") << QByteArray("<Servers><Server>a</Server></Servers>")
        << "Root Node in servers file must be <Selmarin>";
    QTest::newRow("entities") << BillionLaughs()
        << "Failed to load %1 (entity declarations are not accepted)";
}

void TestServerFile::saveKeepsFileThatDoesNotLoad()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, description);
    ServerFolder f;
    f.write(file);
    f.setList({"a"});
    QVERIFY(!SaveServers(f.list()));
    QCOMPARE(f.read(), file);
    QCOMPARE(f.lines().size(), 1);
    QCOMPARE(f.lines()[0].speaker, QStringLiteral("** Error 0x666"));
    QCOMPARE(f.lines()[0].sentence, FileErrorSentence("SaveServers", description.arg(f.path())));
}

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
    QVERIFY(oldBackup.open(QIODevice::WriteOnly));
    oldBackup.write("older");
    oldBackup.close();

    f.setList({"a", "b", "a"});
    QVERIFY(SaveServers(f.list(), SaveMode::Overwrite));
    QCOMPARE(FileChildren(f.read()), (QStringList{Comment, "Server=a", "Server=b", "Server=a"}));
    QCOMPARE(f.read(".bak"), file.isEmpty() ? QByteArray("older") : file);
    QCOMPARE(f.lines().last().speaker, QStringLiteral("-- Info"));
}

void TestServerFile::saveMissingFolder()
{
    ServerFolder f(false);
    f.setList({"a"});
    QVERIFY(!SaveServers(f.list()));
    QCOMPARE(f.lines().size(), 1);
    QCOMPARE(f.lines()[0].text(), QStringLiteral("** Error 0x4C:\t in mdlMain.SaveServers; Path not found\r\n"));
    QCOMPARE(f.list().items(), QStringList{"a"});
}

void TestServerFile::saveRefusesTextXmlCannotHold()
{
    ServerFolder f;
    f.setList({QStringLiteral("bad\x01")});
    QVERIFY(!SaveServers(f.list()));
    QVERIFY(!QFileInfo::exists(f.path()));
    QCOMPARE(f.lines()[0].sentence,
             FileErrorSentence("SaveServers", "The server list cannot be written as a file that loads again"));
}

void TestServerFile::roundTrip()
{
    const QStringList entries{"alpha", "a&b<c>\"d'", QStringLiteral("h\u00e9\u4e2d"), "Alpha"};
    ServerFolder f;
    f.setList(entries);
    QVERIFY(SaveServers(f.list()));
    f.setList({});
    QVERIFY(LoadServers(f.list()));
    QCOMPARE(f.list().items(), entries);

    // Saving back what was loaded changes nothing on disk.
    const QByteArray first = f.read();
    QVERIFY(SaveServers(f.list()));
    QCOMPARE(f.read(), first);
}

QTEST_GUILESS_MAIN(TestServerFile)
#include "tst_serverfile.moc"

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The server list: Servers.xml read and written (hostile files among those
// read), and the Addresses window opened from the main window.

#include "fixture.h"

#include <QComboBox>
#include <QDomDocument>
#include <QListWidget>

namespace {

const QString Comment = "#This file maintains the server list for Selmarin.exe";
const QString Failed = "Failed to load %1";
const QString Entities = Failed + " (entity declarations are not accepted)";

QByteArray serversXml(const QStringList &entries)
{
    return "<Selmarin><Server>" + entries.join("</Server><Server>").toUtf8()
           + "</Server></Selmarin>";
}

QByteArray billionLaughs()
{
    QByteArray xml = "<!DOCTYPE Selmarin [<!ENTITY a0 \"lol\">";
    for (int i = 1; i < 10; ++i)
        xml += "<!ENTITY a" + QByteArray::number(i) + " \""
               + ("&a" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
    return xml + "]><Selmarin><Server>&a9;</Server></Selmarin>";
}

// What the file's document element holds: "#text" a comment, "Tag=text" an element.
QStringList fileChildren(const QString &path)
{
    QDomDocument doc;
    if (!doc.setContent(readFile(path)))
        return {"<not loadable>"};
    QStringList found;
    for (QDomNode n = doc.documentElement().firstChild(); !n.isNull(); n = n.nextSibling())
        found << (n.isComment() ? u'#' + n.nodeValue()
                                : n.nodeName() + u'=' + n.toElement().text());
    return found;
}

} // namespace

class TestServers : public QObject
{
    Q_OBJECT

private slots:
    // The list holds "Host" when the file ("-": none) is read.  A file that
    // loads is merged in file order, skipping entries the list holds (letter
    // case counts); a refused one leaves the list, with one line ("%1": the
    // file), and hostile ones are refused within a bound (the point of the
    // limits on them).
    void load_data()
    {
        columns<QByteArray, QStringList, QString>("file", "after", "error");
        const QStringList kept{"Host"};
        const QString tooMany
            = Failed + " (the file holds more than 100000 elements or other nodes)";
        dataRow("order, duplicates, letter case", serversXml({"a", "Host", "a", "host"}),
                QStringList{"Host", "a", "host"}, "");
        dataRow("declaration, blanks trimmed, other nodes",
                QByteArray("<?xml version=\"1.0\"?>\n<Selmarin><!-- x -->\n"
                           "<Group><Server>deep</Server></Group><Other/>\n"
                           "  <Server>\n    alpha\n  </Server>\n</Selmarin>\n"),
                QStringList{"Host", "alpha"}, "");
        dataRow("no file", QByteArray("-"), kept, "%1 does not exist.");
        dataRow("not well-formed", QByteArray("<Selmarin><Server>a</Selmarin>"), kept, Failed);
        dataRow("bytes invalid in UTF-8", QByteArray("<Selmarin><Server>h\xe9</Server></Selmarin>"),
                kept, Failed);
        dataRow("wrong document element", serversXml({"a"}).replace("Selmarin", "selmarin"), kept,
                "Root Node in servers file must be <Selmarin>");
        dataRow("Server elements only nested",
                QByteArray("<Selmarin><Group><Server>a</Server></Group></Selmarin>"), kept,
                "There must be at least one \"Servers\" node");
        dataRow("billion laughs", billionLaughs(), kept, Entities);
        dataRow("100000 nested elements",
                "<Selmarin>" + QByteArray("<a>").repeated(100000)
                    + QByteArray("</a>").repeated(100000) + "</Selmarin>",
                kept, Failed + " (elements are nested more than 256 deep)");
        dataRow("a million elements",
                "<Selmarin>" + QByteArray("<a/>").repeated(1000000) + "</Selmarin>", kept, tooMany);
        dataRow("50 MB",
                "<Selmarin>" + QByteArray("<Server>host</Server>").repeated(50 * 1024 * 1024 / 21)
                    + "</Selmarin>",
                kept, Failed + " (the file is larger than 8 MB)");
    }
    void load()
    {
        auto [file, error] = fetched<QByteArray, QString>("file", "error");
        Program p({.headless = true});
        p.setServers({"Host"});
        const QString path = p.folder() + "Servers.xml";
        QVERIFY(file == "-" || writeFile(path, file));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(p.loadServers(), error.isEmpty());
        QVERIFY2(timer.elapsed() < 3000, "a file is refused quickly");
        QTEST(p.servers(), "after");
        QCOMPARE(p.pane(), error.isEmpty() ? ""
                                           : "** Error 0x666:\t in mdlMain.LoadServers; "
                                                 + error.replace("%1", path) + "\r\n");
    }

    // The file ("": none, "-": no folder) and the list written into it: a
    // new file has the comment and every entry (no XML declaration); a
    // merge keeps what the file holds and adds what it lacks (letter case
    // counts); an overwrite, or a merge into a file that does not load,
    // writes the list and keeps the old file as the backup.  A file in
    // another encoding is written as UTF-8 and reads back the same; a link
    // stays a link, the file it points to written and backed up.  A refused
    // save leaves the file as it was.
    void save_data()
    {
        columns<QByteArray, bool, QStringList, QStringList, QString>("file", "overwrite", "entries",
                                                                     "written", "lines");
        const QByteArray mine
            = "<Selmarin><!-- mine "
              "--><Other>x</Other><Server>a</Server><Server>B</Server></Selmarin>";
        const QStringList list{"b", "a", "c", "b"},
            fresh{Comment, "Server=b", "Server=a", "Server=c", "Server=b"};
        const QString error = "** Error 0x666:\t in mdlMain.SaveServers; ",
                      saved = "-- Info:\tServers list saved as %1";
        dataRow("new file", QByteArray(), false,
                QStringList{"a", "A", "a&b<c>\"d'", QStringLiteral("h\u00e9\u4e2d")},
                QStringList{Comment, "Server=a", "Server=A", "Server=a&b<c>\"d'",
                            QStringLiteral("Server=h\u00e9\u4e2d")},
                saved);
        dataRow("merge", mine, false, list,
                QStringList{"# mine ", "Other=x", "Server=a", "Server=B", "Server=b", "Server=c"},
                saved);
        dataRow("merge, Latin-1",
                QByteArray("<?xml version='1.0' encoding='ISO-8859-1'?><!-- \xe9quipe "
                           "--><Selmarin><Server>caf\xe9</Server></Selmarin>"),
                false, QStringList{QStringLiteral("caf\u00e9"), "new"},
                QStringList{QStringLiteral("Server=caf\u00e9"), "Server=new"}, saved);
        QStringList largest,
            largestWritten{
                Comment}; // as many entries as the list holds, each as long as a name may be
        for (int n = 0; n < 32766; ++n)
            largestWritten << "Server="
                                  + largest.emplaceBack(QString::number(100000 + n) + '.'
                                                        + QString(121, u'x'));
        dataRow("largest list", QByteArray(), false, largest, largestWritten, saved);
        dataRow("one entry too many", QByteArray(), false,
                QStringList(largest) + QStringList{"one.more"}, QStringList{"<not loadable>"},
                "** Error 0x6:\t in mdlMain.SaveServers; Overflow");
        QTest::newRow("overwrite, through a symbolic link") // "->": Servers.xml links to the file
            << "->" + mine << true << list << fresh << saved;
        dataRow("overwrite a file that does not load", QByteArray("<Selmarin>"), true, list, fresh,
                saved);
        dataRow("merge into a file that does not load", QByteArray("<Selmarin>"), false, list,
                fresh, "-- Info:\tThe file that did not load was kept as %1.bak\r\n" + saved);
        dataRow("merge into a foreign file", serversXml({"a"}).replace("Selmarin", "Servers"),
                false, list, QStringList{"Server=a"},
                error + "Root Node in servers file must be <Selmarin>");
        dataRow("no folder", QByteArray("-"), false, list, QStringList{"<not loadable>"},
                "** Error 0x4C:\t in mdlMain.SaveServers; Path not found");
        dataRow("control character", QByteArray(), false, QStringList{"bad\x01"},
                QStringList{"<not loadable>"},
                error + "The server list cannot be written as a file that loads again");
    }
    void save()
    {
        auto [file, overwrite, lines, entries] = fetched<QByteArray, bool, QString, QStringList>(
            "file", "overwrite", "lines", "entries");
        const bool saves = lines.startsWith("-- Info");
        Program p({.makeFolder = file != "-", .headless = true});
        const QString path = p.folder() + "Servers.xml";
        const bool link = file.startsWith("->");
        const QString real = link ? p.folder() + "linked.xml" : path;
        if (link)
            QVERIFY(QFile::link(real, path));
        QVERIFY(file.isEmpty() || file == "-"
                || (writeFile(real, file.remove(0, link ? 2 : 0))
                    && writeFile(real + ".bak", "older")));
        p.setServers(entries);
        QCOMPARE(p.saveServers(overwrite), saves);
        QTEST(fileChildren(path), "written");
        QCOMPARE(QFileInfo(path).isSymLink(), link);
        if (file.size() > 1)
            QCOMPARE(readFile(real + ".bak"),
                     saves && (overwrite || lines.contains(".bak")) ? file : "older");
        QCOMPARE(p.pane(), lines.replace("%1", path) + "\r\n");
        // What was written loads again to the same entries, and saving it
        // once more changes nothing.
        if (saves && !file.startsWith("<Selmarin>")) {
            const QByteArray written = readFile(path);
            QVERIFY(p.saveServers(false));
            QCOMPARE(readFile(path), written);
        }
    }

    // The editor changes what it shows, refused texts dropped without a
    // word; OK adds what the list lacks (letter case not counting), and the
    // remote box offers the list and keeps what was typed in it.
    void editorAddEditDeleteOk()
    {
        Program p;
        QVERIFY(writeFile(p.folder() + "Servers.xml", serversXml({"alpha"})));
        QVERIFY(p.start());
        p.set("cboRemAddress", "typed");
        p.openEditor([&] {
            QCOMPARE(p.entries("lstRemotes"), QStringList{"alpha"});
            p.click("cmdLoad"); // the file once more: still each entry once
            QCOMPARE(p.entries("lstRemotes"), QStringList{"alpha"});
            p.answer({"bad host", "", "PC17", "beta", "Beta", "ALPHA", "gamma.example.com"});
            for (int add = 0; add < 6; ++add)
                p.click("cmdAdd");
            auto *list = p.control<QListWidget>("lstRemotes");
            list->setCurrentRow(1);
            p.click("cmdEdit");
            list->setCurrentRow(0);
            p.click("cmdDel");
            list->clearSelection();
            p.click("cmdEdit"); // nothing selected: nothing asked, nothing done
            p.click("cmdDel");
            QCOMPARE(p.entries("lstRemotes"), (QStringList{"gamma.example.com", "Beta", "ALPHA"}));
            QCOMPARE(p.prompts().size(), 7);
            QCOMPARE(p.servers(), QStringList{"alpha"});
            p.click("cmdOK");
        });
        QCOMPARE(p.servers(), (QStringList{"alpha", "gamma.example.com", "Beta"}));
        QCOMPARE(p.entries("cboRemAddress"), p.servers());
        QCOMPARE(p.control<QComboBox>("cboRemAddress")->currentText(), QStringLiteral("typed"));
        QVERIFY(p.messages().isEmpty());
    }

    // Save asks merge or overwrite over what the editor shows (a, f from the
    // file ("": none, "-": no folder), then b, A, b added); anything else
    // does nothing.  A box tells how it went.
    void editorSave_data()
    {
        columns<QString, QString, QStringList, QStringList, QString>("file", "answer", "list",
                                                                     "written", "box");
        const QString saved = "Server list file was saved successfully";
        dataRow("merge, no file", "", "M", QStringList{"b", "A", "b"},
                QStringList{Comment, "Server=b", "Server=A", "Server=b"}, saved);
        dataRow("merge into the file", "a,f", " m ", QStringList{"a", "f", "b", "A"},
                QStringList{"Server=a", "Server=f", "Server=b", "Server=A"}, saved);
        dataRow("overwrite", "a,f", "o", QStringList{"a", "f", "b", "A", "b"},
                QStringList{Comment, "Server=a", "Server=f", "Server=b", "Server=A", "Server=b"},
                saved);
        dataRow("other answer", "a,f", "merge", QStringList{"a", "f"},
                QStringList{"Server=a", "Server=f"}, "");
        dataRow("no folder", "-", "O", QStringList{"b", "A", "b"}, QStringList{"<not loadable>"},
                "There was a problem saving the server list file..");
    }
    void editorSave()
    {
        QFETCH(QString, file);
        QFETCH(QString, answer); // captured below
        QFETCH(QString, box);
        Program p({.makeFolder = file != "-"});
        const QString path = p.folder() + "Servers.xml";
        QVERIFY(file.size() < 2 || writeFile(path, serversXml(file.split(u','))));
        p.start();
        p.openEditor([&] {
            p.answer({"b", "A", "b", answer});
            for (const char *button : {"cmdAdd", "cmdAdd", "cmdAdd", "cmdSave"})
                p.click(button);
        });
        QTEST(p.servers(), "list");
        QCOMPARE(p.messages(), box.isEmpty() ? QStringList() : QStringList{box});
        QTEST(fileChildren(path), "written");
        QCOMPARE(readFile(path + ".bak"), answer == "o" ? serversXml({"a", "f"}) : QByteArray());
    }
};

QTEST_MAIN(TestServers)
#include "tst_servers.moc"

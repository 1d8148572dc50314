#include "serverfile.h"

#include "safexml.h"
#include "serverlist.h"
#include "walk16.h"
#include "startup/environment.h"
#include "startup/failure.h"
#include "startup/globals.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <cstdio>

namespace {

const QString RootName = QStringLiteral("Selmarin");
const QString ServerName = QStringLiteral("Server");
const QString FileComment = QStringLiteral("This file maintains the server list for Selmarin.exe");
constexpr int WriteIndent = 2;

[[noreturn]] void Fail(const QString &description)
{
    Raise(rt::ServerFileError, description);
}

bool FileExists(const QString &path)
{
    return QFileInfo(path).isFile();
}

// Fills doc from the file or fails with "Failed to load <path>".
void LoadDocument(QDomDocument &doc, const QString &path)
{
    const XmlReadResult result = ReadServerXml(path, doc);
    if (result.ok())
        return;
    const QString reason = RefusalReason(result);
    Fail(QStringLiteral("Failed to load ") + path
         + (reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + u')'));
}

QDomElement RootOf(const QDomDocument &doc)
{
    const QDomElement root = doc.documentElement();
    if (root.isNull() || root.tagName() != RootName)
        Fail(QStringLiteral("Root Node in servers file must be <Selmarin>"));
    return root;
}

// The direct children named Server, in document order.
QList<QDomElement> ServerChildren(const QDomElement &root)
{
    QList<QDomElement> servers;
    for (QDomElement e = root.firstChildElement(ServerName); !e.isNull();
         e = e.nextSiblingElement(ServerName))
        servers.append(e);
    return servers;
}

QString EntryText(const QDomElement &server)
{
    return server.text().trimmed();
}

void AppendServer(QDomDocument &doc, QDomElement &root, const QString &entry)
{
    QDomElement server = doc.createElement(ServerName);
    root.appendChild(server);
    server.appendChild(doc.createTextNode(entry));
}

// Adds the list's entries that the file lacks after everything already there.
void MergeIntoDocument(QDomDocument &doc, QDomElement &root, const ServerList &list)
{
    // Text -> position of the first Server child holding it: a search stops there.
    QHash<QString, qsizetype> firstAt;
    qsizetype servers = 0;
    for (const QDomElement &e : ServerChildren(root)) {
        const QString text = EntryText(e);
        ++servers;
        if (!firstAt.contains(text))
            firstAt.insert(text, servers);
    }

    for (qsizetype i = 1; i <= list.Count(); ++i) {
        WalkTo(i);
        const QString entry = list.Item(i);
        const auto found = firstAt.constFind(entry);
        if (found != firstAt.constEnd()) {
            WalkTo(*found);
            continue;
        }
        WalkThrough(servers);
        AppendServer(doc, root, entry);
        firstAt.insert(entry, ++servers);
    }
    WalkThrough(list.Count());
}

// A new file's document: the comment, then every entry, duplicates included.
void BuildNewDocument(QDomDocument &doc, const ServerList &list)
{
    doc.setContent(QStringLiteral("<Selmarin/>"));
    QDomElement root = RootOf(doc);
    root.appendChild(doc.createComment(FileComment));
    for (qsizetype i = 1; i <= list.Count(); ++i) {
        WalkTo(i);
        AppendServer(doc, root, list.Item(i));
    }
    WalkThrough(list.Count());
}

bool MoveFile(const QString &from, const QString &to)
{
    // rename(2) replaces `to` in one step, so an older backup is never lost
    // before the new one is in place.
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// Writes the document in one step; with keepPrevious, the file that was
// there is kept as <file>.bak.
void WriteDocument(const QDomDocument &doc, const QString &path, bool keepPrevious)
{
    const QByteArray bytes = doc.toByteArray(WriteIndent);
    QDomDocument check;
    const XmlReadResult readBack = ParseServerXml(bytes, check);
    if (!readBack.ok()) {
        const QString reason = RefusalReason(readBack);
        Fail(QStringLiteral("The server list cannot be written as a file that loads again")
             + (reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + u')'));
    }

    const QFileInfo info(path);
    if (!info.dir().exists())
        Raise(rt::PathNotFound);
    // A symbolic link stays a link: its target is what gets replaced.
    const QString target = info.isSymLink() ? info.symLinkTarget() : path;

    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        Raise(QFileInfo(info.absolutePath()).isWritable() ? rt::FileAccessError : rt::PermissionDenied);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        Raise(rt::DiskFull);
    }
    const QString backup = target + QStringLiteral(".bak");
    if (keepPrevious && !MoveFile(target, backup)) {
        file.cancelWriting();
        Fail(QStringLiteral("Could not keep the previous file as ") + backup
             + QStringLiteral("; nothing was written"));
    }
    if (!file.commit()) {
        if (keepPrevious)
            MoveFile(backup, target);
        Raise(rt::FileAccessError);
    }
}

} // namespace

QString ServersFilePath()
{
    return ProgramFolder(Globals::instance().env()) + QStringLiteral("Servers.xml");
}

bool LoadServers(ServerList &list)
{
    return Guard(QStringLiteral(" in mdlMain.LoadServers; "), [&] {
        const QString path = ServersFilePath();
        if (!FileExists(path))
            Fail(path + QStringLiteral(" does not exist."));
        QDomDocument &doc = Globals::instance().XmlDoc();
        LoadDocument(doc, path);
        const QDomElement root = RootOf(doc);
        const QList<QDomElement> servers = ServerChildren(root);
        if (servers.isEmpty())
            Fail(QStringLiteral("There must be at least one \"Servers\" node"));

        QStringList texts;
        texts.reserve(servers.size());
        for (const QDomElement &server : servers)
            texts.append(EntryText(server));
        // Exact, letter-case-sensitive: the first equal entry ends a search.
        list.AppendMissing(texts, Qt::CaseSensitive);
    });
}

bool SaveServers(ServerList &list, SaveMode mode)
{
    return Guard(QStringLiteral(" in mdlMain.SaveServers; "), [&] {
        const QString path = ServersFilePath();
        QDomDocument &doc = Globals::instance().XmlDoc();
        const bool exists = FileExists(path);
        if (exists && mode == SaveMode::Merge) {
            LoadDocument(doc, path);
            QDomElement root = RootOf(doc);
            MergeIntoDocument(doc, root, list);
        } else {
            BuildNewDocument(doc, list);
        }
        WriteDocument(doc, path, exists && mode == SaveMode::Overwrite);
        ModuleSink().AddToMsgsBox(QStringLiteral("-- Info"),
                                  QStringLiteral("Servers list saved as ") + path + CRLF);
    });
}

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "serverstore.h"

#include "base/environment.h"
#include "base/failure.h"
#include "serverfile.h"
#include "serverlist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

namespace {

[[noreturn]] void fail(const QString &description)
{
    Raise(rt::ServerFileError, description);
}

bool fileExists(const QString &path)
{
    return QFileInfo(path).isFile();
}

// Reads the file into `file`; false when it cannot be opened or read, or does
// not parse or breaks a limit (see file.refusal()).
bool readFile(ServerFile &file, const QString &path)
{
    QFile device(path);
    return device.open(QIODevice::ReadOnly) && file.read(device);
}

// Reads the file into `file` or fails with "Failed to load <path>".
void loadFile(ServerFile &file, const QString &path)
{
    if (readFile(file, path))
        return;
    const QString reason = file.refusal();
    fail(QStringLiteral("Failed to load ") + path
         + (reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + u')'));
}

void requireRoot(const ServerFile &file)
{
    if (!file.hasRoot())
        fail(QStringLiteral("Root Node in servers file must be <Selmarin>"));
}

bool moveFile(const QString &from, const QString &to)
{
    // rename(2) replaces `to` in one step, so an older backup is never lost
    // before the new one is in place.
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// Writes the document in one step; with keepPrevious, the file that was
// there is kept as <file>.bak, and the answer is the backup's path.
QString writeFile(const ServerFile &file, const QString &path, bool keepPrevious)
{
    // The bytes must load again, by the rules every load follows, and to
    // exactly the entries the document holds.
    const QByteArray bytes = file.toBytes();
    ServerFile check;
    const bool loads = check.parse(bytes);
    if (!loads || check.entries() != file.entries()) {
        const QString reason
            = loads ? QStringLiteral("its entries would read back differently") : check.refusal();
        fail(QStringLiteral("The server list cannot be written as a file that loads again")
             + (reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + u')'));
    }

    const QFileInfo info(path);
    if (!info.dir().exists())
        Raise(rt::PathNotFound);
    // A symbolic link stays a link: its target is what gets replaced.
    const QString target = info.isSymLink() ? info.symLinkTarget() : path;

    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        Raise(QFileInfo(info.absolutePath()).isWritable() ? rt::FileAccessError
                                                          : rt::PermissionDenied);
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        Raise(rt::DiskFull);
    }
    const QString backup = target + QStringLiteral(".bak");
    if (keepPrevious && !moveFile(target, backup)) {
        out.cancelWriting();
        fail(QStringLiteral("Could not keep the previous file as ") + backup
             + QStringLiteral("; nothing was written"));
    }
    if (!out.commit()) {
        if (keepPrevious)
            moveFile(backup, target);
        Raise(rt::FileAccessError);
    }
    return keepPrevious ? backup : QString();
}

} // namespace

QString ServersFilePath(const Environment &env)
{
    return ProgramFolder(env) + QStringLiteral("Servers.xml");
}

bool LoadServers(ServerList &list, const QString &path, MsgSink &report)
{
    return Guard(report, QStringLiteral(" in mdlMain.LoadServers; "), [&] {
        if (!fileExists(path))
            fail(path + QStringLiteral(" does not exist."));
        ServerFile file;
        loadFile(file, path);
        requireRoot(file);
        const QStringList texts = file.entries();
        if (texts.isEmpty())
            fail(QStringLiteral("There must be at least one \"Servers\" node"));
        // Exact, letter-case-sensitive: the first equal entry ends a search.
        list.AppendMissing(texts, Qt::CaseSensitive);
    });
}

bool SaveServers(const ServerList &list, const QString &path, SaveMode mode, MsgSink &report)
{
    return Guard(report, QStringLiteral(" in mdlMain.SaveServers; "), [&] {
        ServerFile file;
        const bool exists = fileExists(path);
        // A merge needs a file that loads; one that does not is replaced by a
        // new file and kept aside, so that nothing it held is lost.
        const bool merge = exists && mode == SaveMode::Merge && readFile(file, path);
        const bool unloadable = exists && mode == SaveMode::Merge && !merge;
        if (merge) {
            requireRoot(file);
            file.appendMissing(list);
        } else {
            file.rebuild(list);
        }
        const QString backup = writeFile(file, path, exists && !merge);
        if (unloadable)
            report.AddToMsgsBox(QStringLiteral("-- Info"),
                                QStringLiteral("The file that did not load was kept as ") + backup
                                    + CRLF);
        report.AddToMsgsBox(QStringLiteral("-- Info"),
                            QStringLiteral("Servers list saved as ") + path + CRLF);
    });
}

#pragma once
// A pinned program folder in a temporary directory for the server list tests.

#include "support/fakes.h"
#include "servers/serverlist.h"
#include "startup/globals.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

struct ServerFolder
{
    QTemporaryDir temp;
    TestGlobals globals;

    explicit ServerFolder(bool makeFolder = true)
    {
        globals.env->variables.insert(QStringLiteral("PROGRAMFILES"), temp.path());
        if (makeFolder)
            QDir(temp.path()).mkpath(QStringLiteral("Selmarin"));
    }
    QString path() const { return temp.path() + QStringLiteral("/Selmarin/Servers.xml"); }
    void write(const QByteArray &bytes) const
    {
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QByteArray read(const QString &suffix = QString()) const
    {
        QFile file(path() + suffix);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    ServerList &list() { return Globals::instance().serverList(); }
    void setList(const QStringList &items)
    {
        list().Clear();
        for (const QString &item : items)
            list().Add(item);
    }
    QList<PaneLine> &lines() { return globals.sink.lines; }
};

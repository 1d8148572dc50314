// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "serverfile.h"

#include "serverlist.h"
#include "walk16.h"

#include <QDomProcessingInstruction>
#include <QHash>
#include <QIODevice>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

const QString RootName = QStringLiteral("Selmarin");
const QString ServerName = QStringLiteral("Server");
const QString FileComment = QStringLiteral("This file maintains the server list for Selmarin.exe");
constexpr int WriteIndent = 2;

QString located(const QString &message, qint64 line, qint64 column)
{
    return QStringLiteral("%1 (line %2, column %3)").arg(message).arg(line).arg(column);
}

// The direct children named Server, in document order.
QList<QDomElement> serverChildren(const QDomElement &root)
{
    QList<QDomElement> servers;
    for (QDomElement e = root.firstChildElement(ServerName); !e.isNull();
         e = e.nextSiblingElement(ServerName))
        servers.append(e);
    return servers;
}

QString entryText(const QDomElement &server)
{
    return server.text().trimmed();
}

// The document is written as UTF-8 whatever encoding the file came in, so an
// XML declaration naming another encoding is made to name UTF-8; its version
// and standalone parts stay.  Text and comments are held as characters, so
// writing them in UTF-8 keeps every one of them.
void declareUtf8(QDomDocument &doc)
{
    QDomProcessingInstruction declaration = doc.firstChild().toProcessingInstruction();
    if (declaration.isNull() || declaration.target() != QLatin1String("xml"))
        return;
    static const QRegularExpression encoding(
        QStringLiteral("encoding\\s*=\\s*(\"[^\"]*\"|'[^']*')"));
    QString data = declaration.data();
    data.replace(encoding, QStringLiteral("encoding='UTF-8'"));
    declaration.setData(data);
}

void appendServer(QDomDocument &doc, QDomElement &root, const QString &entry)
{
    QDomElement server = doc.createElement(ServerName);
    root.appendChild(server);
    server.appendChild(doc.createTextNode(entry));
}

} // namespace

bool ServerFile::read(QIODevice &device)
{
    m_doc.clear();
    m_refusal.clear();
    const qint64 size = device.isSequential() ? 0 : device.size();
    if (size > MaxBytes) {
        m_error.clear();
        m_refusal = QStringLiteral("the file is larger than %1 MB").arg(MaxBytes / (1024 * 1024));
        return false;
    }
    // Read up to one byte past the limit, so that a file that grew since
    // size() is still caught; in pieces, so that a small file does not cost
    // a buffer of the limit's size.
    QByteArray data;
    QByteArray piece(64 * 1024, Qt::Uninitialized);
    while (data.size() <= MaxBytes) {
        const qint64 got
            = device.read(piece.data(), std::min<qint64>(piece.size(), MaxBytes + 1 - data.size()));
        if (got < 0) {
            m_error = device.errorString();
            return false;
        }
        if (got == 0)
            break;
        data.append(piece.constData(), got);
    }
    return parse(data);
}

bool ServerFile::parse(const QByteArray &data)
{
    m_doc.clear();
    m_error.clear();
    m_refusal.clear();
    if (data.size() > MaxBytes) {
        m_refusal = QStringLiteral("the file is larger than %1 MB").arg(MaxBytes / (1024 * 1024));
        return false;
    }

    QXmlStreamReader reader(data);
    int depth = 0;
    qint64 nodes = 0;
    while (!reader.atEnd() && m_refusal.isEmpty()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        switch (token) {
        case QXmlStreamReader::DTD:
            if (!reader.entityDeclarations().isEmpty())
                m_refusal = QStringLiteral("entity declarations are not accepted");
            break;
        case QXmlStreamReader::StartElement:
            if (++depth > MaxDepth)
                m_refusal = QStringLiteral("elements are nested more than %1 deep").arg(MaxDepth);
            break;
        case QXmlStreamReader::EndElement: --depth; break;
        default: break;
        }
        // Every element, text, comment or instruction becomes a DOM node;
        // white space between elements does not.
        const bool makesNode
            = token != QXmlStreamReader::EndElement && token != QXmlStreamReader::DTD
              && token != QXmlStreamReader::StartDocument && token != QXmlStreamReader::EndDocument
              && !(token == QXmlStreamReader::Characters && reader.isWhitespace());
        if (makesNode && ++nodes > MaxNodes)
            m_refusal = QStringLiteral("the file holds more than %1 elements or other nodes")
                            .arg(MaxNodes);
    }
    if (!m_refusal.isEmpty())
        return false;
    if (reader.hasError()) {
        m_error = located(reader.errorString(), reader.lineNumber(), reader.columnNumber());
        return false;
    }

    QString message;
    int line = 0;
    int column = 0;
    if (!m_doc.setContent(data, false, &message, &line, &column)) {
        m_doc.clear();
        m_error = located(message, line, column);
        return false;
    }
    declareUtf8(m_doc);
    return true;
}

QByteArray ServerFile::toBytes() const
{
    return m_doc.toByteArray(WriteIndent);
}

bool ServerFile::hasRoot() const
{
    const QDomElement root = m_doc.documentElement();
    return !root.isNull() && root.tagName() == RootName;
}

QStringList ServerFile::entries() const
{
    QStringList texts;
    for (const QDomElement &server : serverChildren(m_doc.documentElement()))
        texts.append(entryText(server));
    return texts;
}

void ServerFile::appendMissing(const ServerList &list)
{
    QDomElement root = m_doc.documentElement();
    // Text -> position of the first Server child holding it: a search stops there.
    QHash<QString, qsizetype> firstAt;
    qsizetype servers = 0;
    for (const QDomElement &e : serverChildren(root)) {
        const QString text = entryText(e);
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
        appendServer(m_doc, root, entry);
        firstAt.insert(entry, ++servers);
    }
    WalkThrough(list.Count());
}

void ServerFile::rebuild(const ServerList &list)
{
    m_doc.setContent(QStringLiteral("<Selmarin/>"));
    QDomElement root = m_doc.documentElement();
    root.appendChild(m_doc.createComment(FileComment));
    for (qsizetype i = 1; i <= list.Count(); ++i) {
        WalkTo(i);
        appendServer(m_doc, root, list.Item(i));
    }
    WalkThrough(list.Count());
}

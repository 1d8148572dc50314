#include "safexml.h"

#include <QFile>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

XmlReadResult PreScan(const QByteArray &data)
{
    QXmlStreamReader reader(data);
    int depth = 0;
    qint64 nodes = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        switch (token) {
        case QXmlStreamReader::DTD:
            if (!reader.entityDeclarations().isEmpty())
                return {XmlRefusal::Entities, {}};
            break;
        case QXmlStreamReader::StartElement:
            if (++depth > ServerFileMaxDepth)
                return {XmlRefusal::TooDeep, {}};
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
        // Every element, text, comment or instruction becomes a DOM node;
        // white space between elements does not.
        const bool makesNode = token != QXmlStreamReader::EndElement && token != QXmlStreamReader::DTD
                               && token != QXmlStreamReader::StartDocument
                               && token != QXmlStreamReader::EndDocument
                               && !(token == QXmlStreamReader::Characters && reader.isWhitespace());
        if (makesNode && ++nodes > ServerFileMaxNodes)
            return {XmlRefusal::TooMany, {}};
    }
    if (reader.hasError()) {
        return {XmlRefusal::NotWellFormed,
                QStringLiteral("%1 (line %2, column %3)")
                    .arg(reader.errorString())
                    .arg(reader.lineNumber())
                    .arg(reader.columnNumber())};
    }
    return {};
}

} // namespace

XmlReadResult ParseServerXml(const QByteArray &data, QDomDocument &doc)
{
    doc.clear();
    if (data.size() > ServerFileMaxBytes)
        return {XmlRefusal::TooLarge, {}};
    XmlReadResult result = PreScan(data);
    if (!result.ok())
        return result;
    QString message;
    int line = 0;
    int column = 0;
    if (!doc.setContent(data, false, &message, &line, &column)) {
        doc.clear();
        return {XmlRefusal::NotWellFormed,
                QStringLiteral("%1 (line %2, column %3)").arg(message).arg(line).arg(column)};
    }
    return {};
}

XmlReadResult ReadServerXml(const QString &path, QDomDocument &doc)
{
    doc.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {XmlRefusal::Unreadable, file.errorString()};
    if (file.size() > ServerFileMaxBytes)
        return {XmlRefusal::TooLarge, {}};
    // Read up to one byte past the limit, so that a file that grew since
    // size() is still caught; in pieces, so that a small file does not cost
    // a buffer of the limit's size.
    QByteArray data;
    while (data.size() <= ServerFileMaxBytes) {
        const QByteArray piece = file.read(std::min<qint64>(64 * 1024, ServerFileMaxBytes + 1 - data.size()));
        if (piece.isEmpty())
            break;
        data += piece;
    }
    if (file.error() != QFileDevice::NoError)
        return {XmlRefusal::Unreadable, file.errorString()};
    return ParseServerXml(data, doc);
}

QString RefusalReason(const XmlReadResult &result)
{
    switch (result.refusal) {
    case XmlRefusal::TooLarge:
        return QStringLiteral("the file is larger than %1 MB").arg(ServerFileMaxBytes / (1024 * 1024));
    case XmlRefusal::Entities:
        return QStringLiteral("entity declarations are not accepted");
    case XmlRefusal::TooDeep:
        return QStringLiteral("elements are nested more than %1 deep").arg(ServerFileMaxDepth);
    case XmlRefusal::TooMany:
        return QStringLiteral("the file holds more than %1 elements or other nodes").arg(ServerFileMaxNodes);
    case XmlRefusal::None:
    case XmlRefusal::Unreadable:
    case XmlRefusal::NotWellFormed:
        break;
    }
    return {};
}

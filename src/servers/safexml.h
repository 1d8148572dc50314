#pragma once
// Reading the server list file into a DOM document without letting the file
// decide how much time or memory that takes.
//
// The DOM parser is safe against entity expansion only per entity (a limit
// of a few thousand characters per reference) and takes minutes over deeply
// nested elements.  So a file is read only when
//   - it is at most ServerFileMaxBytes long (a list of 32,766 entries of
//     ordinary host names takes well under that);
//   - a streaming pre-scan finds it well-formed, with no DTD entity
//     declarations (a plain <!DOCTYPE> is fine), no element nested deeper
//     than ServerFileMaxDepth, and no more than ServerFileMaxNodes elements,
//     texts and comments (the DOM takes a few hundred bytes per node: a
//     million empty elements in 4 MB would cost 300 MB and seconds);
// and only then is the DOM built.  Bytes that are not valid in the file's
// encoding (UTF-8 unless the declaration names another) make it not
// well-formed.

#include <QByteArray>
#include <QDomDocument>
#include <QString>

inline constexpr qint64 ServerFileMaxBytes = 4 * 1024 * 1024;
inline constexpr int ServerFileMaxDepth = 256;
inline constexpr qint64 ServerFileMaxNodes = 100000;

enum class XmlRefusal {
    None,
    Unreadable,     // could not be opened or read
    TooLarge,       // over ServerFileMaxBytes
    NotWellFormed,  // the parser's reason is in `detail`
    Entities,       // declares DTD entities
    TooDeep,        // nested deeper than ServerFileMaxDepth
    TooMany,        // more than ServerFileMaxNodes nodes
};

struct XmlReadResult
{
    XmlRefusal refusal = XmlRefusal::None;
    QString detail;  // the parser's message with line and column, when it has one
    bool ok() const { return refusal == XmlRefusal::None; }
};

// Checks and parses data into doc.  On a refusal doc is left empty.
XmlReadResult ParseServerXml(const QByteArray &data, QDomDocument &doc);

// Reads the file (refusing it unread when too large) and parses it.
XmlReadResult ReadServerXml(const QString &path, QDomDocument &doc);

// The user's sentence for a refusal the program made on its own account
// (size, entities, depth); empty for a file that simply does not load.
QString RefusalReason(const XmlReadResult &result);

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// ServerFile: the server list file's format, read from and written to any
// QIODevice (a file, a buffer).
//
// Format: document element <Selmarin>, one <Server> child per entry, the entry
// being the element's text with surrounding white space trimmed.  Everything
// else (other elements, Server elements further down, comments) is ignored
// on reading and kept on merging.  A new document holds the comment "This
// file maintains the server list for Selmarin.exe" and then one Server
// element per entry; it is written indented by two spaces, without an XML
// declaration (so UTF-8).
//
// Files are always written in UTF-8.  A file read in another encoding (its
// declaration names, say, ISO-8859-1, or it starts with a UTF-16 byte order
// mark) keeps its declaration, with the encoding changed to name UTF-8, so
// that every character it holds, comments included, reads back the same.
//
// Reading never lets the file decide how much time or memory it takes.  The
// DOM parser is safe against entity expansion only per entity and takes
// minutes over deeply nested elements, so a document is built only when
//   - the data is at most MaxBytes long;
//   - a streaming pre-scan finds it well-formed, with no DTD entity
//     declarations (a plain <!DOCTYPE> is fine), no element nested deeper
//     than MaxDepth, and no more than MaxNodes elements, texts and comments
//     (the DOM takes a few hundred bytes per node: a million empty elements
//     in 4 MB would cost 300 MB and seconds).
// Bytes that are not valid in the file's encoding (UTF-8 unless the
// declaration names another) make it not well-formed.

#include <QDomDocument>
#include <QString>
#include <QStringList>

class QIODevice;
class ServerList;

class ServerFile
{
public:
    // The limits admit the largest list the program writes: 32,766 entries
    // (the walk limit, walk16.h) of the longest host text the address rules
    // accept, 128 ASCII characters, none of which needs escaping.  Written,
    // each entry is one line
    //   2 (indent) + 8 (<Server>) + 128 + 9 (</Server>) + 1 (newline) = 148 bytes,
    // so 32,766 * 148 = 4,849,368 bytes, plus <Selmarin>, the comment line and
    // </Selmarin> (85 bytes): 4,849,453 bytes, about 4.6 MB.  8 MB leaves
    // about 70 % on top, for a declaration, comments and other content a
    // merged file keeps, and for files written by hand (less compactly).
    // Nodes of that list: the document element, the comment, and an element
    // and a text per entry, 2 + 2 * 32,766 = 65,534, under MaxNodes.
    static constexpr qint64 MaxBytes = 8 * 1024 * 1024;
    static constexpr int MaxDepth = 256;
    static constexpr qint64 MaxNodes = 100000;

    // Reads the device to its end and parses it.  False when it cannot be
    // read or parsed, or breaks a limit: see errorString() and refusal().
    bool read(QIODevice &device);
    // Parses data as read() does.
    bool parse(const QByteArray &data);
    // The document's bytes as they are written: UTF-8.
    QByteArray toBytes() const;

    // Why the last read failed: the parser's message with line and column,
    // or the device's error.  Empty after a successful read.
    QString errorString() const { return m_error; }
    // The sentence for a refusal the program made on its own account (size,
    // entities, depth, nodes); empty for a file that simply does not load.
    QString refusal() const { return m_refusal; }

    // True when the document element is <Selmarin>.
    bool hasRoot() const;
    // The texts of the document element's Server children, in order.
    QStringList entries() const;

    // Adds the list's entries that the document lacks (exact letter case)
    // after everything already there.
    void appendMissing(const ServerList &list);
    // Makes the document afresh: the comment, then every entry, duplicates
    // included.
    void rebuild(const ServerList &list);

private:
    QDomDocument m_doc;
    QString m_error;
    QString m_refusal;
};

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Text <-> bytes at the session's edge: UTF-8 both ways.
//
// Sending: a text goes out as exactly its UTF-8 bytes; nothing is added,
// removed or unescaped.
//
// Receiving: bytes become text that can always be shown and logged, and no
// byte is ever dropped:
// - well-formed UTF-8 becomes its characters;
// - TAB, LF and CR pass as they are;
// - every other control character (0x00-0x1F, 0x7F, and U+0080-U+009F) and
//   every byte that is not part of well-formed UTF-8 (stray continuation
//   bytes, overlong forms, encoded surrogates, code points above U+10FFFF)
//   is written as "\xHH": a backslash, 'x' and two upper-case hexadecimal
//   digits, one such escape for each byte as it came off the wire (so the
//   control character U+0085 shows as "\xC2\x85").
// - a backslash is written as "\\" (two backslashes).  Then every backslash
//   in the text begins an escape, and every other character stands for its
//   own UTF-8 bytes, so the text can be read back into exactly the bytes
//   received: a display copied into the send box and sent with escapes on
//   (session/escapes.h) puts the same bytes on the wire.  Without it, "\x41"
//   sent by the peer as four characters would look like the escape of the
//   byte 0x41.  Paths and the like show their backslashes doubled; that is
//   the price of a display that can be read back.
//
// A multi-byte sequence may be split across two reads of a stream.  When more
// data can still come, an incomplete but so far valid sequence at the end is
// not decoded: the caller keeps those (at most three) bytes and puts them in
// front of the next read.  At the end of the stream (final) they are escaped.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

struct DecodedText
{
    QString text;
    qsizetype consumed = 0; // bytes turned into text; the rest is an incomplete tail
};

DecodedText DecodeReceived(QByteArrayView bytes, bool final);

// The number of leading bytes that DecodeReceived(bytes, false) would take.
qsizetype CompleteLength(QByteArrayView bytes);

// A stream's bytes as text, read after read: the start of a character split
// between two reads is held back until the rest comes, or until flush()
// gives it out escaped (the peer closed, or it waited long enough).
class StreamText
{
public:
    QString take(const QByteArray &bytes);
    QString flush();
    bool holding() const { return !m_tail.isEmpty(); }
    void clear() { m_tail.clear(); }

private:
    QByteArray m_tail; // an incomplete last character
};

QByteArray EncodeForSending(const QString &text);

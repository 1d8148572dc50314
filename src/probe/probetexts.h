// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The AutoPing texts as the command line reads and writes them.
//
// The window sends and answers the two fixed texts only, each as one piece
// of data that must be exactly the text.  Between two command-line copies a
// text may carry the query's number, "++ AutoPing Query ++ #17" answered by
// "++ AutoPing Response ++ #17", so that every answer finds its query
// whatever the delays and losses (over UDP; a stream keeps the order, and
// there the fixed texts are enough).  A command-line copy also reads the
// texts more freely than the window:
//   - a datagram counts when it is one text, line ends after it allowed;
//   - a stream counts every complete fixed text in it, split over pieces or
//     several in one piece, whatever stands between them (line ends).
//
// A query may be padded to a size (probe -s): its text, its number if it
// has one, a space, dots and a line feed, "++ AutoPing Query ++ #17 ....\n",
// so many bytes in all; a command-line copy answers it with its response
// padded to the same size.  The window reads none of that: it answers the
// bare text only.  A stream's padded text is counted once its line feed
// came (at most MaxPadded bytes; a longer run counts as a bare text).
//
// A numbered query of the command line carries its target's token too, a
// random number drawn when the probe started, " ~" and 16 hex digits after
// the number, "++ AutoPing Query ++ #17 ~9f86d081884c7d65"; a responder of
// this version echoes it, so that an answer forged by someone who did not
// see the query is told from the real one.  A token read is kept as its
// digits came, any number of them: a truncated one is a wrong one.

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

inline const QString AutoPingQuery = QStringLiteral("++ AutoPing Query ++");
inline const QString AutoPingResponse = QStringLiteral("++ AutoPing Response ++");

struct ProbeText
{
    enum Kind { Query, Response };
    Kind kind = Query;
    std::optional<int> seq; // the number a text carries
    int size = 0;           // its bytes, line feed included, when it was padded; 0: it was not
    std::optional<QString> token; // the hex digits of the token it carried
};

inline constexpr int MaxPadded = 65535;

// The text to send, numbered or not, padded to size bytes (0, or too few
// for a padding: bare).
QString ProbeTextOf(ProbeText::Kind kind, std::optional<int> seq = std::nullopt, int size = 0,
                    const std::optional<QString> &token = std::nullopt);
// The fewest bytes a padded query of kind Query can have that its answer
// can match in size, with a number of up to 10 digits and a token
// (numbered) or neither.
int SmallestPadded(bool numbered);
// A token as the texts carry it: 16 lowercase hex digits.
QString TokenText(quint64 token);

// A datagram's text read as one AutoPing text; nothing when it is none.
std::optional<ProbeText> ReadProbeDatagram(QStringView text);

// text without the AutoPing texts in it (numbered or not), and without the
// line ends that follow each: what a peer sent that was no probe text.
QString WithoutProbeTexts(QStringView text);

// The fixed texts found in a stream, in order, across the pieces fed.
class ProbeStream
{
public:
    QList<ProbeText> feed(QStringView text);
    void clear() { m_rest.clear(); }

private:
    QString m_rest; // the end of what came that may begin a text
};

// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "targetlines.h"

#include "base/numbertext.h"
#include "peers/probetarget.h"
#include "stamplines.h"

namespace {

const QString Speaker = QStringLiteral("AutoPing");
const QString ErrorSpeakerText = QStringLiteral("AutoPing Error");

} // namespace

TargetLines::TargetLines(const ProbeTarget &target, const NameTables &tables, MsgSink &lines,
                         QObject *parent)
    : QObject(parent),
      m_target(target),
      m_lines(lines),
      m_failureWatch(connect(&target.session(), &Session::socketFailed, this,
                             [this](const SocketFailure &f) { m_failing = f.why.number; })),
      m_sessionLines(target.session(), tables, *this)
{
    connect(&target, &ProbeTarget::happened, this, &TargetLines::tell);
    connect(&target, &ProbeTarget::connectionEnded, this, [this](quint64 sent, int count) {
        AddComplaint(ErrorSpeakerText,
                     QStringLiteral("The connection to %1 ended after %2 of %3 queries")
                             .arg(m_target.name())
                             .arg(sent)
                             .arg(count > 0 ? QString::number(count) : QStringLiteral("unlimited"))
                         + CRLF);
    });
    connect(&target, &ProbeTarget::cannotProbe, this,
            [this](const QString &why) { AddComplaint(ErrorSpeakerText, why + CRLF); });
}

// The lines pass on to the transcript; complaints are kept.
void TargetLines::addLine(LineKind kind, const QString &speaker, const QString &sentence)
{
    if (kind != LineKind::Complaint) {
        m_lines.addLine(kind, speaker, sentence);
        return;
    }
    // A target that stays down fails the same way at every try: said once,
    // until something else is said (the figures count every try).  The
    // socket's failure is told by the complaint that follows it.
    const int failure = std::exchange(m_failing, 0);
    const Told told{failure, failure != 0 ? QString() : speaker + sentence};
    if (told == m_lastComplaint)
        return;
    m_lastComplaint = told;
    keepError(speaker + u':' + u' ' + sentence);
    m_lines.addLine(kind, speaker, sentence);
}

// The first MaxErrors are kept (a target that stays down for days must not
// fill the memory); the rest are counted in the last one.
void TargetLines::keepError(const QString &error)
{
    if (m_errors.size() < MaxErrors)
        m_errors.append(error.simplified());
    else
        m_errors.last() = QStringLiteral("... and %1 more").arg(++m_moreErrors);
}

void TargetLines::ClearMsgsBox()
{
    m_lines.ClearMsgsBox();
}

void TargetLines::setEveryQuery(bool every)
{
    m_everyQuery = every;
    m_sessionLines.setDataShown(every);
}

void QueryMinute::count(const ProbeEngine::Event &e)
{
    using Kind = ProbeEngine::Event::Kind;
    QueryMinute &m = *this;
    switch (e.kind) {
    case Kind::Answered:
        m.rttMinUs = m.answered == 0 ? e.rttUs : std::min(m.rttMinUs, e.rttUs);
        m.rttMaxUs = std::max(m.rttMaxUs, e.rttUs);
        m.rttSumUs += e.rttUs;
        ++m.answered;
        break;
    case Kind::Late: ++m.late; break;
    case Kind::Lost:
    case Kind::Refused: ++m.lost; break;
    case Kind::Failed:
        ++m.notSent;
        ++m.lost;
        break;
    case Kind::Stray: ++m.stray; break;
    default: break;
    }
}

void TargetLines::tellMinute()
{
    const QueryMinute m = std::exchange(m_minute, QueryMinute());
    if (m.empty())
        return;
    QString line = QStringLiteral("%1 in the last minute: %2 answered, %3 late, %4 lost")
                       .arg(m_target.figures().peer())
                       .arg(m.answered)
                       .arg(m.late)
                       .arg(m.lost);
    if (m.notSent > 0)
        line += QStringLiteral(" (%1 not sent)").arg(m.notSent);
    if (m.stray > 0)
        line += QStringLiteral(", %1 stray").arg(m.stray);
    if (m.answered > 0)
        line += QStringLiteral(", rtt min/avg/max = ")
                + MillisecondsSeries({double(m.rttMinUs), double(m.rttSumUs / qint64(m.answered)),
                                      double(m.rttMaxUs)},
                                     3)
                + QStringLiteral(" ms");
    m_lines.addLine(m.lost > 0 ? LineKind::Warning : LineKind::Probe, Speaker, line + CRLF);
}

// One line per query, as ping writes one per reply (or the minute's figures).
void TargetLines::tell(const ProbeEngine::Events &events)
{
    using Kind = ProbeEngine::Event::Kind;
    const bool connects = m_target.path() == ProbeTarget::Path::Connects;
    const QString peer = m_target.figures().peer();
    const QString answer
        = connects ? QStringLiteral("connected to ") : QStringLiteral("answer from ");
    const QString none
        = connects ? QStringLiteral("no connection to ") : QStringLiteral("no answer from ");
    const QString late
        = connects ? QStringLiteral("late connection to ") : QStringLiteral("late answer from ");
    const auto why = [](const ProbeEngine::Event &e) {
        return QStringLiteral(" (") + e.reason
               + (e.detail.isEmpty() ? QString() : QStringLiteral(": ") + e.detail) + u')';
    };
    // A reflector's answers tell more than their round trip.
    const auto more = [this](const ProbeEngine::Event &e) {
        const StampFigures *stamp = m_target.stampFigures();
        return stamp ? StampAnswerText(*stamp, e.seq) : QString();
    };
    for (const ProbeEngine::Event &e : events) {
        const QString seq = QStringLiteral(": seq=") + QString::number(e.seq);
        m_minute.count(e);
        // Each new way a connection failed is one of the errors, its line
        // written or not.
        if (e.kind == Kind::Refused
            && std::pair(e.reason, e.detail) != std::exchange(m_lastRefusal, {e.reason, e.detail}))
            keepError(Speaker + QStringLiteral(": ") + none + peer + why(e));
        // A line a minute instead of one per query: only what is not a
        // query's plain outcome is said at once.
        const bool perQuery = e.kind == Kind::Answered || e.kind == Kind::NoAnswer
                              || e.kind == Kind::Late || e.kind == Kind::Stray
                              || e.kind == Kind::Refused;
        if (!m_everyQuery && perQuery)
            continue;
        switch (e.kind) {
        case Kind::Answered:
            m_lines.addLine(LineKind::Query, Speaker,
                            answer + peer + seq + QStringLiteral(" time=")
                                + Milliseconds(double(e.rttUs), 3) + more(e) + CRLF);
            break;
        case Kind::NoAnswer:
            m_lines.addLine(LineKind::Query, Speaker, none + peer + seq + CRLF);
            break;
        case Kind::Late:
            m_lines.addLine(LineKind::Query, Speaker,
                            late + peer + seq
                                + (e.rttUs >= 0
                                       ? QStringLiteral(" time=") + Milliseconds(double(e.rttUs), 3)
                                       : QString())
                                + more(e) + CRLF);
            break;
        case Kind::Lost: break; // its timeout's line said it
        case Kind::Refused:
            m_lines.addLine(LineKind::Query, Speaker, none + peer + seq + why(e) + CRLF);
            break;
        case Kind::Failed:
            if (e.said)
                AddComplaint(ErrorSpeakerText,
                             QStringLiteral("not sent to ") + peer + seq + why(e) + CRLF);
            break;
        case Kind::Recovered:
            m_lastComplaint = {};
            m_lines.AddToMsgsBox(Speaker,
                                 QStringLiteral("%1 can be probed again after %2 failed attempts")
                                         .arg(peer)
                                         .arg(e.rttUs)
                                     + CRLF);
            break;
        case Kind::Stray:
            m_lines.addLine(LineKind::Query, Speaker,
                            QStringLiteral("stray answer from ") + peer
                                + (e.seq > 0 ? seq : QString())
                                + QStringLiteral(" (no query waiting)") + CRLF);
            break;
        case Kind::Foreign:
            AddComplaint(ErrorSpeakerText,
                         QStringLiteral("a datagram from %1 ignored: only %2 answers (said once; "
                                        "the figures count them all)")
                                 .arg(e.reason, peer)
                             + CRLF);
            break;
        case Kind::Forged:
            AddComplaint(ErrorSpeakerText,
                         QStringLiteral("an answer from %1 without this run's token ignored as "
                                        "foreign (said once; the figures count them all)")
                                 .arg(peer)
                             + CRLF);
            break;
        case Kind::Unproven:
            m_lines.addLine(LineKind::Warning, Speaker,
                            peer
                                + QStringLiteral(" answers without this run's token (a window, "
                                                 "or an older responder): its answers cannot be "
                                                 "told from forged ones")
                                + CRLF);
            break;
        }
    }
}

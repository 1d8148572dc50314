// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sendbox.h"

#include "base/msgsink.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>

namespace {

// The character format property of a U+2028 that stands for a U+2029.
constexpr int StandsForParagraph = QTextFormat::UserProperty;

bool hasSeparator(const QString &text)
{
    return text.contains(QChar::LineSeparator) || text.contains(QChar::ParagraphSeparator);
}

} // namespace

SendBox::SendBox(QWidget *parent) : QPlainTextEdit(parent) {}

QStringList SendBox::linesToSend() const
{
    QStringList lines;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        QString line;
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QString piece = fragment.text();
            if (fragment.charFormat().boolProperty(StandsForParagraph))
                piece.replace(QChar::LineSeparator, QChar::ParagraphSeparator);
            line += piece;
        }
        lines.append(line);
    }
    return lines;
}

void SendBox::insertTyped(const QString &text)
{
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    QTextCharFormat plain = cursor.charFormat();
    plain.clearProperty(StandsForParagraph);
    QTextCharFormat paragraph = plain;
    paragraph.setProperty(StandsForParagraph, true);
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QChar::LineSeparator && c != QChar::ParagraphSeparator)
            continue;
        cursor.insertText(text.mid(from, i - from), plain);
        cursor.insertText(QString(QChar::LineSeparator),
                          c == QChar::LineSeparator ? plain : paragraph);
        from = i + 1;
    }
    cursor.insertText(text.mid(from), plain);
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
}

void SendBox::keyPressEvent(QKeyEvent *event)
{
    if (isReadOnly() || !hasSeparator(event->text())) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    insertTyped(event->text());
    event->accept();
}

void SendBox::inputMethodEvent(QInputMethodEvent *event)
{
    const QString typed = event->commitString();
    if (isReadOnly() || !hasSeparator(typed)) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    // The committed text (replacing what the input method names), then the
    // rest of the event: the text still being composed.
    if (event->replacementLength() > 0) {
        QTextCursor cursor = textCursor();
        const int from = cursor.position() + event->replacementStart();
        cursor.setPosition(from);
        cursor.setPosition(from + event->replacementLength(), QTextCursor::KeepAnchor);
        setTextCursor(cursor);
    }
    insertTyped(typed);
    QInputMethodEvent composing(event->preeditString(), event->attributes());
    QPlainTextEdit::inputMethodEvent(&composing);
    event->accept();
}

void SendBox::insertFromMimeData(const QMimeData *source)
{
    if (isReadOnly() || !source || !hasSeparator(source->text())) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    insertTyped(source->text());
}

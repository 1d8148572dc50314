// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The send box: a plain text box whose text is sent exactly as typed.
//
// Its lines are the document's blocks: Ctrl+Enter (the window's key handling)
// and the line breaks of pasted text start a new one.  linesToSend() gives
// the blocks, each with every character as it is: a no-break space stays
// U+00A0, a line separator U+2028 (toPlainText() would make them a blank and
// a line break); the session joins them with the chosen line end.
//
// A typed or pasted paragraph separator U+2029 cannot stay in a block: the
// document takes it for a block boundary.  The box therefore holds it as a
// line separator U+2028 (shown as a line break) whose character format marks
// it as standing for U+2029, and linesToSend() gives U+2029 back for it.  Text
// holding either separator, from the keys, an input method, a paste or a
// drop, is inserted by insertTyped(), which marks exactly the separators that
// stand for U+2029 (a mark carried on by the format of the character before
// never reaches a U+2028), in one step for undo.

#include <QPlainTextEdit>

class SendBox : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit SendBox(QWidget *parent = nullptr);

    // The box's lines as they go on the wire.
    QStringList linesToSend() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    // Inserts the text at the cursor in place of the selection, paragraph
    // separators held as marked line separators.
    void insertTyped(const QString &text);
};

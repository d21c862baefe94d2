#include "scriptgui/NumEdit.h"

#include <QKeyEvent>

namespace pek {

TNumEdit::TNumEdit(QWidget* parent) : QLineEdit(parent)
{
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Pasted or typed, every change of a hexadecimal field comes back to its digit count.
    connect(this, &QLineEdit::textChanged, this, [this] { Normalize(); });
}

void TNumEdit::SetIsHex(bool on)
{
    isHex_ = on;
    if (on) isFloat_ = false;
}

void TNumEdit::SetIsFloat(bool on)
{
    isFloat_ = on;
    if (on) isHex_ = false;
}

TNumKind TNumEdit::Kind() const
{
    if (isHex_) return isLongWord_ ? TNumKind::Hex8 : TNumKind::Hex4;
    return isFloat_ ? TNumKind::Float : TNumKind::Integer;
}

void TNumEdit::keyPressEvent(QKeyEvent* event)
{
    const QString typed = event->text();
    const bool control = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
    if (!control && typed.size() == 1 && typed[0].unicode() >= 0x20) {
        const QChar ch = typed[0];
        QString rest = text();
        int caret = cursorPosition();
        if (hasSelectedText()) {
            caret = selectionStart();
            rest.remove(caret, selectedText().size());
        }
        if (ch.unicode() >= 0x80 || !NumEditAccepts(Kind(), rest.toStdString(), caret, char(ch.unicode()))) {
            event->accept();
            return;
        }
        insert(ch.toUpper());
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TNumEdit::Normalize()
{
    if (!isHex_ || normalizing_) return;
    normalizing_ = true;
    const auto [fixed, caret] = NumEditNormalizeHex(text().toStdString(), cursorPosition(), GuiHexDigits(Kind()));
    if (QString::fromStdString(fixed) != text()) setText(QString::fromStdString(fixed));
    setCursorPosition(caret);
    normalizing_ = false;
}

}  // namespace pek

#include "dialogs/ScriptMessageBox.h"

#include "platform/CodePage.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

namespace pek {

namespace {

struct ButtonKind {
    int id;
    const char* caption;
};

constexpr ButtonKind kOk{1, "OK"}, kCancel{2, "キャンセル"}, kAbort{3, "中止(&A)"}, kRetry{4, "再試行(&R)"},
    kIgnore{5, "無視(&I)"}, kYes{6, "はい(&Y)"}, kNo{7, "いいえ(&N)"}, kTryAgain{10, "再実行(&T)"}, kContinue{11, "続行(&C)"};

struct ButtonSet {
    std::vector<ButtonKind> buttons;
    int escape;  // the answer Esc and the close box give; 0: neither works
};

const ButtonSet kSets[] = {
    {{kOk}, 1},
    {{kOk, kCancel}, 2},
    {{kAbort, kRetry, kIgnore}, 0},
    {{kYes, kNo, kCancel}, 2},
    {{kYes, kNo}, 0},
    {{kRetry, kCancel}, 2},
    {{kCancel, kTryAgain, kContinue}, 2},
};

}  // namespace

bool TScriptMessageBox::IsKnownButtonSet(unsigned flags)
{
    return (flags & 0x0Fu) < std::size(kSets);
}

TScriptMessageBox::TScriptMessageBox(const QString& text, const QString& caption, unsigned flags, QWidget* parent)
    : QMessageBox(parent)
{
    setText(text);
    setWindowTitle(caption);
    switch (flags & 0xF0u) {
    case 0x10: setIcon(QMessageBox::Critical); break;
    case 0x20: setIcon(QMessageBox::Question); break;
    case 0x30: setIcon(QMessageBox::Warning); break;
    case 0x40: setIcon(QMessageBox::Information); break;
    default: break;
    }
    const ButtonSet& set = kSets[IsKnownButtonSet(flags) ? flags & 0x0Fu : 0];
    for (const ButtonKind& kind : set.buttons) {
        // One role for all, so Qt picks no escape button of its own.
        QPushButton* button = addButton(Ui(kind.caption), QMessageBox::ActionRole);
        buttons_.emplace_back(button, kind.id);
        if (kind.id == set.escape) setEscapeButton(button);
    }
    escapeId_ = set.escape;
    const std::size_t defaultIndex = (flags >> 8) & 0x0Fu;
    setDefaultButton(static_cast<QPushButton*>(buttons_[defaultIndex < buttons_.size() ? defaultIndex : 0].first));
}

int TScriptMessageBox::Answer() const
{
    for (const auto& [button, id] : buttons_)
        if (button == clickedButton()) return id;
    return escapeId_ != 0 ? escapeId_ : 2;
}

void TScriptMessageBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && !Escapable()) {
        event->accept();
        return;
    }
    QMessageBox::keyPressEvent(event);
}

void TScriptMessageBox::closeEvent(QCloseEvent* event)
{
    if (!Escapable()) {
        event->ignore();
        return;
    }
    QMessageBox::closeEvent(event);
}

}  // namespace pek

// The command box's keys over its history (see AttachHistoryKeys).
#include "terminal/CommandHistory.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>

namespace pek {

namespace {

class HistoryKeys final : public QObject {
public:
    explicit HistoryKeys(QComboBox& box) : QObject(&box), box_(box)
    {
        // Any other change (typing, sending, picking from the list) starts afresh from the top.
        connect(box.lineEdit(), &QLineEdit::textChanged, this, [this](const QString& text) {
            if (text != shown_) index_ = -1;
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
        const auto& key = static_cast<const QKeyEvent&>(*event);
        if (key.modifiers() & ~Qt::KeypadModifier) return false;  // Alt+Down opens the list
        if (key.key() == Qt::Key_Up) {
            Step(+1);
            return true;
        }
        if (key.key() == Qt::Key_Down) {
            Step(-1);
            return true;
        }
        return false;
    }

private:
    // +1 goes back in time, -1 forward.
    void Step(int direction)
    {
        if (index_ < 0) draft_ = box_.currentText();
        const int next = std::clamp(index_ + direction, -1, box_.count() - 1);
        if (next == index_) return;
        index_ = next;
        shown_ = index_ < 0 ? draft_ : box_.itemText(index_);
        box_.setEditText(shown_);
        box_.lineEdit()->end(false);
    }

    QComboBox& box_;
    int index_ = -1;
    QString draft_;
    QString shown_;
};

}  // namespace

void AttachHistoryKeys(QComboBox& box)
{
    box.setEditable(true);
    box.setCompleter(nullptr);
    auto* keys = new HistoryKeys(box);
    box.installEventFilter(keys);
    box.lineEdit()->installEventFilter(keys);
}

}  // namespace pek

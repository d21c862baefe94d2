#include "terminal/CommandHistory.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>

namespace pek {

void CommandHistory::Add(const std::string& command)
{
    if (command.empty()) return;
    std::erase(items_, std::string());
    if (items_.empty()) {
        items_.push_back(command);
    } else if (items_.front() != command) {
        std::erase(items_, command);
        items_.insert(items_.begin(), command);
    }
    if (items_.size() > kMaxEntries) items_.resize(kMaxEntries);
}

void CommandHistory::SetItems(std::vector<std::string> items)
{
    // A hand-edited settings file may hold empty entries or more than fit.
    std::erase(items, std::string());
    items_.clear();
    for (auto& item : items)
        if (std::find(items_.begin(), items_.end(), item) == items_.end()) items_.push_back(std::move(item));
    if (items_.size() > kMaxEntries) items_.resize(kMaxEntries);
}

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

#include "terminal/CommandHistory.h"

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

}  // namespace pek

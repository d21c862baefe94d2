#pragma once
#include <string>
#include <vector>

namespace pek {

// The command box's history: most recent first, no empty entries, no duplicates, at most 20.
class CommandHistory {
public:
    static constexpr size_t kMaxEntries = 20;

    void Add(const std::string& command);
    const std::vector<std::string>& Items() const { return items_; }
    void SetItems(std::vector<std::string> items);

private:
    std::vector<std::string> items_;
};

}  // namespace pek

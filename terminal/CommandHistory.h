#pragma once
#include <string>
#include <vector>

class QComboBox;

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

// The editable command box sends exactly what it shows: no inline completion from its items (the
// history, most recent first). Up recalls the most recent command and goes further back, Down comes
// forward and, past the most recent, brings back what was being typed.
void AttachHistoryKeys(QComboBox& box);

}  // namespace pek

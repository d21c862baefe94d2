#include "debugger/BreakPoints.h"

namespace pek {

int TBreakPoints::IndexOf(std::string_view file, int line) const
{
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].Line == line && items_[i].FileName == file) return int(i);
    return -1;
}

void TBreakPoints::Add(std::string_view file, int line, bool unique)
{
    if (unique && Exists(file, line)) return;
    items_.push_back({std::string(file), line});
}

void TBreakPoints::Delete(int i)
{
    if (i < 0 || i >= Count()) return;
    items_.erase(items_.begin() + i);
}

void TBreakPoints::Toggle(std::string_view file, int line)
{
    if (const int i = IndexOf(file, line); i >= 0) Delete(i);
    else Add(file, line, true);
}

}  // namespace pek

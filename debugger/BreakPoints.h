#pragma once
// An ordered list of (file, 0-based line) places: the debugger's breakpoints, and its call history
// used as a stack of call sites.
#include <string>
#include <string_view>
#include <vector>

namespace pek {

struct TBreakInfo {
    std::string FileName;
    int Line = 0;
    bool operator==(const TBreakInfo&) const = default;
};

class TBreakPoints {
public:
    void Clear() { items_.clear(); }
    int Count() const { return int(items_.size()); }
    // Valid for 0 <= i < Count() only.
    const TBreakInfo& Items(int i) const { return items_[std::size_t(i)]; }
    // Exact byte comparison of the file name.
    int IndexOf(std::string_view file, int line) const;
    bool Exists(std::string_view file, int line) const { return IndexOf(file, line) >= 0; }
    void Add(std::string_view file, int line, bool unique);
    // Out of range: nothing happens.
    void Delete(int i);
    void Remove(std::string_view file, int line) { Delete(IndexOf(file, line)); }
    void Toggle(std::string_view file, int line);
    bool Empty() const { return items_.empty(); }

private:
    std::vector<TBreakInfo> items_;
};

}  // namespace pek

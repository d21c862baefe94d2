#pragma once
// The display-free rules of searching panes: wildcard patterns, the options by search type, the
// text offered in the find box, and where the view scrolls to around a hit.
#include "editor/EditorSearch.h"

#include <string>
#include <string_view>

namespace pek {

class TEditorModel;

enum class TSearchType { Plain = 0, Regex = 1, Wildcard = 2 };

// "*" any text, "?" one character; every other ASCII punctuation byte stands for itself, and a
// double-byte character is copied whole (its trail byte may be a "\" or a "|").
std::string WildcardToRegex(std::string_view pattern);

TSearchOptions SearchOptionsFor(TSearchType type, bool matchCase);

// The selection up to its first line break, or the word at the caret when nothing is selected;
// at most MaxFindText bytes, never half a double-byte character.
std::string FindBoxText(const TEditorModel& model);
inline constexpr std::size_t MaxFindText = 1024;

// The top row that keeps rows of margin around the caret row: three when the view has room, as
// many as fit otherwise; the caret row always stays in view.
long long TopRowWithMargin(long long caretRow, long long topRow, long long visibleRows);

}  // namespace pek

#pragma once
// Character classes of code page 932 text, for the whole-word test of searches: a word ends where
// the class changes. Classes: 0 separators and undefined bytes, 1 ASCII letters and digits,
// 2 half-width katakana, 3 full-width alphanumerics, 4 katakana, 5 hiragana, 6 kanji.
#include <cstddef>
#include <string_view>

namespace pek {

// Length of the character starting at head: a lead byte takes the next byte with it, except at
// the very end of the text, where it stands alone.
std::size_t CharLenAt(std::string_view text, std::size_t head);

// Class of the character starting at head (head < text.size()).
int ClassAtHead(std::string_view text, std::size_t head);

// The start of the character covering byte i, walking forward from the character start `from`
// (from <= i < size).
std::size_t HeadCovering(std::string_view text, std::size_t from, std::size_t i);

// Class (0 to 6) of the character covering the 1-based byte position pos of text; 0 outside it.
int CharClass(std::string_view text, long long pos);

}  // namespace pek

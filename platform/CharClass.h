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
// Walks from the start of the text: for many positions of one text use TClassWalker.
int CharClass(std::string_view text, long long pos);

// The whole-word test over one text in one forward pass: each call costs the distance from the
// previous match's start, so testing every candidate of a long line stays linear.
class TClassWalker {
public:
    explicit TClassWalker(std::string_view text) : text_(text) {}

    // Whether both ends of [s, e) (0-based, s < e) change class. The starts s of successive calls
    // must not decrease.
    bool Passes(std::size_t s, std::size_t e);

private:
    std::string_view text_;
    std::size_t cursor_ = 0;  // a character start at or before s - 1 of the next call
};

}  // namespace pek

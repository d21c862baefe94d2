#pragma once
// The highlighting tokeniser: cuts a line into coloured tokens. The only state carried from one
// line to the next is the range (bracket item) that is still open.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace pek {

enum class TTokenKind : uint8_t { Space, Symbol, Word, Number, Dbcs, Kana, Range, Comment, Url, Mail, Reserve };

struct TToken {
    uint32_t start = 0;
    uint32_t length = 0;
    TTokenKind kind = TTokenKind::Symbol;
    int bracket = -1;  // the range item for kind Range
};

struct TBracketItem {
    std::string LeftBracket;
    std::string RightBracket;
    uint32_t Color = 0;
    bool operator==(const TBracketItem&) const = default;
};

struct THighlightRules {
    std::string Commenter;
    std::vector<TBracketItem> Brackets;
    std::vector<std::string> ReserveWords;  // as given; lookup ignores the case of letters
    bool Url = true;
    bool Mail = true;
    bool operator==(const THighlightRules&) const = default;
};

class THighlighter {
public:
    void SetRules(const THighlightRules& rules);
    const THighlightRules& Rules() const { return rules_; }
    // True when an open range can be carried across lines, i.e. line states matter.
    bool HasRanges() const { return hasRanges_; }
    // Tokenises line, which starts inside range item state (-1: none); returns the range still
    // open at its end. tokens may be null when only the end state is wanted.
    int Tokenize(std::string_view line, int state, std::vector<TToken>* tokens) const;
    bool IsReserved(std::string_view word) const;
    // The reserved words sorted, duplicates (ignoring case) removed.
    std::vector<std::string> SortedReserveWords() const;

private:
    size_t FindRight(std::string_view line, size_t from, const std::string& right) const;
    THighlightRules rules_;
    std::unordered_set<std::string> reserved_;  // upper-cased
    bool hasRanges_ = false;
};

// Upper-cases ASCII letters, leaving double-byte characters (whose trail bytes may look like letters) alone.
std::string UpperAnk(std::string_view s);

}  // namespace pek

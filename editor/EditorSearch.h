#pragma once
// Finding the find string in one line: plain text (always available) or a regular expression
// through the run-time regular-expression binding.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pek {

enum TSearchOption : uint8_t { soMatchCase = 1, soRegexp = 2, soEscSeq = 4, soWholeWord = 8 };
using TSearchOptions = uint8_t;

struct TLineMatch {
    long long start = 0;   // byte in the line
    long long length = 0;
};

class TLineMatcher {
public:
    TLineMatcher();
    ~TLineMatcher();
    TLineMatcher(const TLineMatcher&) = delete;
    TLineMatcher& operator=(const TLineMatcher&) = delete;

    // False when nothing can be searched: an empty pattern, a bad regular expression (error gets
    // the library's text) or regular expressions unavailable.
    bool Prepare(std::string_view pattern, TSearchOptions options, bool regexAvailable, std::string* error = nullptr);
    // Every match in line, left to right, not overlapping. With lastStart only the matches that
    // start at or before that byte (they may run on past it).
    std::vector<TLineMatch> Matches(std::string_view line, size_t lastStart = std::string_view::npos) const;
    // How many line breaks a match may span: 0 keeps searches within single lines. Line breaks
    // in the text searched are CR LF; in a plain find string any line break stands for one.
    int SpanLines() const { return spanLines_; }

private:
    struct Compiled;
    std::string needle_;
    TSearchOptions options_ = 0;
    int spanLines_ = 0;
    std::unique_ptr<Compiled> regex_;
};

// Interprets \t \n \r \\ \xHH in a find string; other backslashes stay as they are.
std::string UnescapeFindString(std::string_view s);

}  // namespace pek

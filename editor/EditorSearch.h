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
    // Every match in line, left to right, not overlapping.
    std::vector<TLineMatch> Matches(std::string_view line) const;

private:
    struct Compiled;
    std::string needle_;
    TSearchOptions options_ = 0;
    std::unique_ptr<Compiled> regex_;
};

// Interprets \t \n \r \\ \xHH in a find string; other backslashes stay as they are.
std::string UnescapeFindString(std::string_view s);

}  // namespace pek

#include "editor/EditorSearch.h"

#include "editor/EditorLayout.h"
#include "editor/EditorLines.h"
#include "platform/CharClass.h"
#include "regex/Onig.h"

namespace pek {

struct TLineMatcher::Compiled {
    onig::Regex regex;
};

TLineMatcher::TLineMatcher() = default;
TLineMatcher::~TLineMatcher() = default;

namespace {
int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

unsigned char FoldAnk(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }

// Full-width small letters (82 81 to 82 9A) fold onto the capitals (82 60 to 82 79).
unsigned char FoldTrail(unsigned char lead, unsigned char trail)
{
    return (lead == 0x82 && trail >= 0x81 && trail <= 0x9A) ? static_cast<unsigned char>(trail - 0x21) : trail;
}

std::string FoldCase(std::string_view s)
{
    std::string out(s);
    for (size_t i = 0; i < out.size();) {
        if (CharBytes(out, i) == 2) {
            out[i + 1] = char(FoldTrail(static_cast<unsigned char>(out[i]), static_cast<unsigned char>(out[i + 1])));
            i += 2;
        } else {
            out[i] = char(FoldAnk(static_cast<unsigned char>(out[i])));
            ++i;
        }
    }
    return out;
}
// Every line break of a plain find string as CR LF, the form the text is searched in.
std::string NormalizeBreaks(std::string_view s)
{
    std::string out;
    const std::vector<std::string_view> parts = SplitLines(s);
    for (size_t k = 0; k < parts.size(); ++k) {
        if (k > 0) out += "\r\n";
        out.append(parts[k]);
    }
    return out;
}

// Whether a regular expression may match a line break. Escapes that never do and plain
// characters keep the search on single lines; anything else (\s, \n, \x0a, [^...], (?m), ...) may.
bool MayMatchLineBreak(std::string_view pattern)
{
    constexpr std::string_view kSingleLineEscapes = "dwbBAzZGtaef";
    for (size_t i = 0; i < pattern.size();) {
        const int len = CharBytes(pattern, i);
        const char c = pattern[i];
        if (len == 1 && (c == '\r' || c == '\n')) return true;
        if (len == 1 && c == '\\' && i + 1 < pattern.size()) {
            const unsigned char e = static_cast<unsigned char>(pattern[i + 1]);
            const bool alnum = (e >= '0' && e <= '9') || ((e | 0x20) >= 'a' && (e | 0x20) <= 'z');
            if (alnum && kSingleLineEscapes.find(char(e)) == std::string_view::npos) return true;
            i += 2;
            continue;
        }
        if (len == 1 && (c == '[' || c == '(') && i + 1 < pattern.size() && pattern[i + 1] == (c == '[' ? '^' : '?')) return true;
        i += size_t(len);
    }
    return false;
}

constexpr int kRegexSpanLines = 16;  // line breaks a regular-expression match may cross

// A character of searched text: a lead byte left unpaired at a line end stays alone before the CR
// that joins the next line, as it does in the line itself.
int SearchCharBytes(std::string_view s, size_t i)
{
    const int len = CharBytes(s, i);
    return len == 2 && (s[i + 1] == '\r' || s[i + 1] == '\n') ? 1 : len;
}
}  // namespace

std::string UnescapeFindString(std::string_view s)
{
    std::string out;
    for (size_t i = 0; i < s.size();) {
        const int len = CharBytes(s, i);
        if (len == 2 || s[i] != '\\' || i + 1 >= s.size()) {
            out.append(s.substr(i, size_t(len)));
            i += size_t(len);
            continue;
        }
        const char c = s[i + 1];
        if (c == 't') out += '\t';
        else if (c == 'n') out += '\n';
        else if (c == 'r') out += '\r';
        else if (c == '\\') out += '\\';
        else if (c == 'x' && i + 3 < s.size() && HexValue(s[i + 2]) >= 0 && HexValue(s[i + 3]) >= 0) {
            out += char(HexValue(s[i + 2]) * 16 + HexValue(s[i + 3]));
            i += 4;
            continue;
        } else {
            out.append(s.substr(i, 2));
        }
        i += 2;
    }
    return out;
}

bool TLineMatcher::Prepare(std::string_view pattern, TSearchOptions options, bool regexAvailable, std::string* error)
{
    if (error) error->clear();
    options_ = options;
    regex_.reset();
    needle_ = (options & soEscSeq) && !(options & soRegexp) ? UnescapeFindString(pattern) : std::string(pattern);
    needle_ = needle_.substr(0, needle_.find('\0'));
    spanLines_ = 0;
    if (needle_.empty()) return false;
    if (!(options & soRegexp)) {
        needle_ = NormalizeBreaks(needle_);
        if (!(options & soMatchCase)) needle_ = FoldCase(needle_);
        spanLines_ = int(SplitLines(needle_).size()) - 1;
        return true;
    }
    spanLines_ = MayMatchLineBreak(needle_) ? kRegexSpanLines : 0;
    if (!regexAvailable || !onig::Loaded()) return false;
    const auto& api = onig::api();
    OnigOptionType flags = ONIG_OPTION_FIND_NOT_EMPTY;
    if (!(options & soMatchCase)) flags |= ONIG_OPTION_IGNORECASE;
    onig::Regex regex = onig::CompileForSearch(needle_, flags, api.OnigSyntaxRuby, error);
    if (!regex) return false;
    regex_ = std::make_unique<Compiled>(Compiled{std::move(regex)});
    return true;
}

std::vector<TLineMatch> TLineMatcher::Matches(std::string_view line, size_t lastStart) const
{
    std::vector<TLineMatch> out;
    if (needle_.empty()) return out;
    const bool wholeWord = (options_ & soWholeWord) != 0;
    if (regex_) {
        std::vector<onig::Match> found;
        onig::FindAll(line, regex_->regex, wholeWord, found, lastStart);
        out.reserve(found.size());
        for (const auto& m : found) out.push_back({m.start - 1, m.length});
        return out;
    }
    const bool matchCase = (options_ & soMatchCase) != 0;
    const size_t n = needle_.size();
    // Walk character starts so that a match never begins on a trail byte; compare byte-wise, folding
    // only single-byte letters (a trail byte may look like a letter). The walk knows the characters
    // on both sides of a candidate, so the whole-word test costs nothing more.
    size_t before = std::string_view::npos;  // start of the character before i
    for (size_t i = 0; i + n <= line.size() && i <= lastStart;) {
        bool hit = true;
        size_t last = i;  // start of the candidate's last character
        for (size_t k = 0; k < n && hit;) {
            const int len = SearchCharBytes(line, i + k);
            last = i + k;
            if (len == 2 && !matchCase) {
                const unsigned char lead = static_cast<unsigned char>(line[i + k]);
                hit = k + 1 < n && lead == static_cast<unsigned char>(needle_[k]) &&
                      FoldTrail(lead, static_cast<unsigned char>(line[i + k + 1])) == static_cast<unsigned char>(needle_[k + 1]);
            } else if (len == 2 || matchCase) {
                hit = line.compare(i + k, size_t(len), needle_, k, size_t(len)) == 0 &&
                      (len == 1 || k + 1 < n);
            } else {
                hit = FoldAnk(static_cast<unsigned char>(line[i + k])) == static_cast<unsigned char>(needle_[k]);
            }
            k += size_t(len);
        }
        if (hit && wholeWord) {
            const int prevClass = before == std::string_view::npos ? 0 : ClassAtHead(line, before);
            const int nextClass = i + n < line.size() ? ClassAtHead(line, i + n) : 0;
            hit = ClassAtHead(line, i) != prevClass && ClassAtHead(line, last) != nextClass;
        }
        if (hit) {
            out.push_back({static_cast<long long>(i), static_cast<long long>(n)});
            before = last;
            i += n;
        } else {
            before = i;
            i += size_t(SearchCharBytes(line, i));
        }
    }
    return out;
}

}  // namespace pek

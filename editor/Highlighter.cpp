#include "editor/Highlighter.h"

#include <algorithm>
#include <map>

#include "editor/EditorLayout.h"

namespace pek {

namespace {
bool IsAlpha(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsWordByte(unsigned char c) { return IsAlpha(c) || IsDigit(c) || c == '_'; }
bool IsKana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }
bool IsUrlByte(unsigned char c)
{
    if (IsAlpha(c) || IsDigit(c)) return true;
    switch (c) {
    case '-': case '.': case '_': case '~': case ':': case '/': case '?': case '#': case '@': case '!':
    case '$': case '&': case '*': case '+': case ',': case ';': case '=': case '%':
        return true;
    default:
        return false;
    }
}
bool IsMailLocalByte(unsigned char c) { return IsAlpha(c) || IsDigit(c) || c == '.' || c == '_' || c == '%' || c == '+' || c == '-'; }
bool IsMailDomainByte(unsigned char c) { return IsAlpha(c) || IsDigit(c) || c == '.' || c == '-'; }

bool StartsWithNoCase(std::string_view s, size_t at, std::string_view prefix)
{
    if (s.size() - at < prefix.size()) return false;
    for (size_t k = 0; k < prefix.size(); ++k) {
        unsigned char a = static_cast<unsigned char>(s[at + k]);
        if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a + 32);
        if (a != static_cast<unsigned char>(prefix[k])) return false;
    }
    return true;
}

size_t UrlLength(std::string_view s, size_t at)
{
    static constexpr std::string_view kStarts[] = {"ftp:", "http:", "https:", "www."};
    for (const auto prefix : kStarts) {
        if (StartsWithNoCase(s, at, prefix)) {
            size_t j = at + prefix.size();
            while (j < s.size() && IsUrlByte(static_cast<unsigned char>(s[j]))) ++j;
            return j - at;
        }
    }
    return 0;
}

size_t MailLength(std::string_view s, size_t at)
{
    size_t j = at;
    while (j < s.size() && IsMailLocalByte(static_cast<unsigned char>(s[j]))) ++j;
    if (j == at || j >= s.size() || s[j] != '@') return 0;
    const size_t domain = ++j;
    while (j < s.size() && IsMailDomainByte(static_cast<unsigned char>(s[j]))) ++j;
    while (j > domain && s[j - 1] == '.') --j;  // a sentence's full stop is not part of the address
    const size_t lastDot = s.substr(domain, j - domain).rfind('.');
    if (lastDot == std::string_view::npos || lastDot == 0) return 0;
    return j - at;
}

// End of the number starting at i: digits, a fraction, an exponent.
size_t NumberEnd(std::string_view line, size_t i)
{
    const size_t n = line.size();
    const auto digit = [&](size_t k) { return k < n && IsDigit(static_cast<unsigned char>(line[k])); };
    size_t j = i + 1;
    while (digit(j)) ++j;
    if (j + 1 < n && line[j] == '.' && digit(j + 1)) {
        j += 2;
        while (digit(j)) ++j;
    }
    if (j < n && (line[j] == 'e' || line[j] == 'E')) {
        size_t k = j + 1;
        if (k < n && (line[k] == '+' || line[k] == '-')) ++k;
        if (digit(k)) {
            while (digit(k)) ++k;
            j = k;
        }
    }
    return j;
}

// End and kind of the token starting at i that is none of ranges, addresses and comments, by the
// class of its first byte.
size_t PlainTokenEnd(std::string_view line, size_t i, TTokenKind& kind)
{
    const size_t n = line.size();
    const unsigned char c = static_cast<unsigned char>(line[i]);
    size_t j = i + 1;
    if (IsAlpha(c) || c == '_') {
        while (j < n && IsWordByte(static_cast<unsigned char>(line[j]))) ++j;
        kind = TTokenKind::Word;
    } else if (IsDigit(c)) {
        j = NumberEnd(line, i);
        kind = TTokenKind::Number;
    } else if (CharBytes(line, i) == 2) {
        j = i;
        while (j < n && CharBytes(line, j) == 2) j += 2;
        kind = TTokenKind::Dbcs;
    } else if (IsKana(c)) {
        while (j < n && IsKana(static_cast<unsigned char>(line[j]))) ++j;
        kind = TTokenKind::Kana;
    } else if (c == ' ' || c == '\t') {
        while (j < n && (line[j] == ' ' || line[j] == '\t')) ++j;
        kind = TTokenKind::Space;
    } else {
        kind = TTokenKind::Symbol;
    }
    return j;
}

bool MayOpenRange(const std::vector<TBracketItem>& brackets, std::string_view line)
{
    return std::any_of(brackets.begin(), brackets.end(), [&](const TBracketItem& item) {
        return !item.LeftBracket.empty() && !item.RightBracket.empty() && line.find(item.LeftBracket) != std::string_view::npos;
    });
}
}  // namespace

std::string UpperAnk(std::string_view s)
{
    std::string out(s);
    for (size_t i = 0; i < out.size();) {
        const int len = CharBytes(out, i);
        if (len == 1 && out[i] >= 'a' && out[i] <= 'z') out[i] = char(out[i] - 32);
        i += size_t(len);
    }
    return out;
}

void THighlighter::SetRules(const THighlightRules& rules)
{
    rules_ = rules;
    reserved_.clear();
    for (const auto& w : rules_.ReserveWords) {
        if (!w.empty()) reserved_.insert(UpperAnk(w));
    }
    hasRanges_ = std::any_of(rules_.Brackets.begin(), rules_.Brackets.end(),
                             [](const TBracketItem& b) { return !b.LeftBracket.empty() && !b.RightBracket.empty(); });
}

bool THighlighter::IsReserved(std::string_view word) const
{
    return !reserved_.empty() && reserved_.count(UpperAnk(word)) > 0;
}

std::vector<std::string> THighlighter::SortedReserveWords() const
{
    std::map<std::string, std::string> byKey;
    for (const auto& w : rules_.ReserveWords) {
        if (!w.empty()) byKey.emplace(UpperAnk(w), w);
    }
    std::vector<std::string> out;
    for (auto& [key, word] : byKey) out.push_back(word);
    return out;
}

size_t THighlighter::FindRight(std::string_view line, size_t from, const std::string& right) const
{
    // Scan character by character so that a trail byte never starts a match.
    for (size_t i = from; i < line.size(); i += size_t(CharBytes(line, i))) {
        if (line.compare(i, right.size(), right) == 0) return i;
    }
    return std::string_view::npos;
}

int THighlighter::Tokenize(std::string_view line, int state, std::vector<TToken>* tokens) const
{
    if (tokens) tokens->clear();
    auto add = [&](size_t start, size_t end, TTokenKind kind, int bracket = -1) {
        if (!tokens) return;
        if (kind != TTokenKind::Range && kind != TTokenKind::Comment && kind != TTokenKind::Url &&
            kind != TTokenKind::Mail && kind != TTokenKind::Space && IsReserved(line.substr(start, end - start)))
            kind = TTokenKind::Reserve;
        tokens->push_back({uint32_t(start), uint32_t(end - start), kind, bracket});
    };
    // When only the end state is wanted, a line in which no opening text stands cannot leave a range open.
    if (!tokens && state < 0 && !MayOpenRange(rules_.Brackets, line)) return -1;
    size_t i = 0;
    const size_t n = line.size();
    if (state >= 0 && size_t(state) < rules_.Brackets.size()) {
        const auto& item = rules_.Brackets[size_t(state)];
        const size_t r = FindRight(line, 0, item.RightBracket);
        if (r == std::string_view::npos) {
            add(0, n, TTokenKind::Range, state);
            return state;
        }
        i = r + item.RightBracket.size();
        add(0, i, TTokenKind::Range, state);
    }
    state = -1;
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        // 1. Ranges, in collection order.
        bool opened = false;
        for (size_t k = 0; k < rules_.Brackets.size(); ++k) {
            const auto& item = rules_.Brackets[k];
            if (item.LeftBracket.empty() || item.RightBracket.empty()) continue;
            if (line.compare(i, item.LeftBracket.size(), item.LeftBracket) != 0) continue;
            const size_t r = FindRight(line, i + item.LeftBracket.size(), item.RightBracket);
            if (r == std::string_view::npos) {
                add(i, n, TTokenKind::Range, int(k));
                return int(k);
            }
            const size_t end = r + item.RightBracket.size();
            add(i, end, TTokenKind::Range, int(k));
            i = end;
            opened = true;
            break;
        }
        if (opened) continue;
        // 2. Mail addresses and URLs.
        if (rules_.Mail && IsWordByte(c)) {
            if (const size_t len = MailLength(line, i)) {
                add(i, i + len, TTokenKind::Mail);
                i += len;
                continue;
            }
        }
        if (rules_.Url) {
            if (const size_t len = UrlLength(line, i)) {
                add(i, i + len, TTokenKind::Url);
                i += len;
                continue;
            }
        }
        // 3. Comment to the end of the line.
        if (!rules_.Commenter.empty() && line.compare(i, rules_.Commenter.size(), rules_.Commenter) == 0) {
            add(i, n, TTokenKind::Comment);
            return -1;
        }
        // 4. By the class of the first byte.
        TTokenKind kind = TTokenKind::Symbol;
        const size_t j = PlainTokenEnd(line, i, kind);
        add(i, j, kind);
        i = j;
    }
    return -1;
}

}  // namespace pek

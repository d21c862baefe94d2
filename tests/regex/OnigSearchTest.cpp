// Compile-for-search, find-all and the whole-word character classes.
#include "regex/Onig.h"
#include "platform/CharClass.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

namespace pek::onig {
namespace {

// Shift-JIS bytes of a UTF-8 literal.
std::string J(std::string_view utf8)
{
    return Utf8ToCp932(utf8);
}

class OnigSearch : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(library_.ok()); }

    static constexpr OnigOptionType kNoCase = ONIG_OPTION_FIND_NOT_EMPTY | ONIG_OPTION_IGNORECASE;
    static constexpr OnigOptionType kCase = ONIG_OPTION_FIND_NOT_EMPTY;

    // The editor's way: Ruby syntax for regular expressions, otherwise plain text.
    static std::vector<Match> Find(std::string_view text, std::string_view pattern, bool regexp,
                                   OnigOptionType options = kNoCase, bool wholeWord = false)
    {
        const Regex rx = CompileForSearch(pattern, options, regexp ? api().OnigSyntaxRuby : api().OnigSyntaxASIS);
        EXPECT_TRUE(rx) << pattern;
        std::vector<Match> hits;
        const int count = FindAll(text, rx, wholeWord, hits);
        EXPECT_EQ(count, static_cast<int>(hits.size()));
        return hits;
    }

    static std::vector<int> Starts(const std::vector<Match>& hits)
    {
        std::vector<int> starts;
        for (const Match& m : hits)
            starts.push_back(m.start);
        return starts;
    }

    Library library_;
};

TEST_F(OnigSearch, PlainTextTakesMetacharactersLiterally)
{
    const auto hits = Find("abc a.c xa.cx a(b", "a.c", false);
    EXPECT_EQ(Starts(hits), (std::vector<int>{5, 10}));
    EXPECT_EQ(hits[0].length, 3);
    EXPECT_EQ(hits[0].groups, std::vector<std::string>{"a.c"});
    EXPECT_EQ(Starts(Find("abc a.c xa.cx a(b", "a(", false)), std::vector<int>{15});
    EXPECT_TRUE(Find("abc", "a.c", false).empty());
}

TEST_F(OnigSearch, RegularExpressionWithRubySyntax)
{
    const auto hits = Find("ZABC abxc", "a(b)(x)?c", true);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].start, 2);
    EXPECT_EQ(hits[0].length, 3);
    // The group that did not take part is left out, so later texts move up.
    EXPECT_EQ(hits[0].groups, (std::vector<std::string>{"ABC", "B"}));
    EXPECT_EQ(hits[1].start, 6);
    EXPECT_EQ(hits[1].length, 4);
    EXPECT_EQ(hits[1].groups, (std::vector<std::string>{"abxc", "b", "x"}));

    EXPECT_EQ(Starts(Find("id=12, id=345", "id=(\\d+)", true)), (std::vector<int>{1, 8}));
    EXPECT_EQ(Find("id=12, id=345", "id=(\\d+)", true)[1].groups, (std::vector<std::string>{"id=345", "345"}));
    // Ruby's own forms: named groups and back references.
    EXPECT_EQ(Starts(Find("xyzzy abba", "(?<c>[a-z])\\k<c>", true)), (std::vector<int>{3, 8}));
}

TEST_F(OnigSearch, CaseOption)
{
    EXPECT_EQ(Starts(Find("ab Ab aB AB", "ab", false, kNoCase)), (std::vector<int>{1, 4, 7, 10}));
    EXPECT_EQ(Starts(Find("ab Ab aB AB", "ab", false, kCase)), std::vector<int>{1});
    EXPECT_EQ(Starts(Find("ab Ab aB AB", "A[bB]", true, kCase)), (std::vector<int>{4, 10}));
}

TEST_F(OnigSearch, EachSearchResumesAtTheEndOfTheLastMatch)
{
    EXPECT_EQ(Starts(Find("aaaaa", "aa", false)), (std::vector<int>{1, 3}));
    // Context before the resume point still counts for anchors.
    EXPECT_EQ(Starts(Find("ab\nab", "^ab", true)), (std::vector<int>{1, 4}));
    EXPECT_EQ(Starts(Find("abab", "(?<=b)a", true)), std::vector<int>{3});
}

TEST_F(OnigSearch, EmptyMatchesAreNeverReported)
{
    EXPECT_TRUE(Find("abc", "x*", true).empty());
    const auto hits = Find("axxb", "x*", true);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].start, 2);
    EXPECT_EQ(hits[0].length, 2);
    // Compiled without the exclusion, the empty matches are stepped over and the search still ends.
    EXPECT_EQ(Starts(Find("axxb" + J("あ") + "x", "x*", true, ONIG_OPTION_NONE)), (std::vector<int>{2, 7}));
    EXPECT_TRUE(Find("", "a", false).empty());
}

TEST_F(OnigSearch, ShiftJisCharactersAreNeverSplit)
{
    // 亜亜 is 88 9F 88 9F; its middle bytes 9F 88 spell another character, which must not match.
    EXPECT_TRUE(Find("\x88\x9F\x88\x9F", "\x9F\x88", false).empty());
    EXPECT_EQ(Starts(Find("\x88\x9F\x9F\x88", "\x9F\x88", false)), std::vector<int>{3});
    // ア (83 41) ends in the byte of "A": searching for A finds only the real one.
    EXPECT_EQ(Starts(Find("\x83\x41" "A", "a", false)), std::vector<int>{3});
    const auto hits = Find("ab" + J("アイウ") + "x", J("イ"), false);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].start, 5);
    EXPECT_EQ(hits[0].length, 2);
    EXPECT_EQ(Starts(Find(J("漢字とカナ、漢字"), J("漢."), true)), (std::vector<int>{1, 13}));
}

TEST_F(OnigSearch, PatternEndsAtItsFirstZeroByte)
{
    using namespace std::string_view_literals;
    EXPECT_EQ(Starts(Find("xab(y", "ab\0(z"sv, true)), std::vector<int>{2});
}

TEST_F(OnigSearch, BadPatternGivesTheLibraryErrorText)
{
    std::string error;
    EXPECT_FALSE(CompileForSearch("a(", kNoCase, api().OnigSyntaxRuby, &error));
    EXPECT_NE(error.find("parenthesis"), std::string::npos) << error;
    // A message that names a part of the pattern.
    EXPECT_FALSE(CompileForSearch("\\k<nope>", kNoCase, api().OnigSyntaxRuby, &error));
    EXPECT_NE(error.find("nope"), std::string::npos) << error;
    EXPECT_FALSE(CompileForSearch("[b-a]", kNoCase, api().OnigSyntaxRuby, &error));
    EXPECT_FALSE(error.empty());
    // Success clears an earlier text; no syntax is a failure, not a crash.
    EXPECT_TRUE(CompileForSearch("a", kNoCase, api().OnigSyntaxRuby, &error));
    EXPECT_EQ(error, "");
    EXPECT_FALSE(CompileForSearch("a", kNoCase, nullptr, &error));
}

// A search the library gives up on ends there and says why, for the budget it runs in and for the
// pattern; later searches in that budget find nothing, a new budget tries again.
TEST_F(OnigSearch, GivingUpEndsTheSearchWithTheLibraryText)
{
    const Regex rx = CompileForSearch("(a+)+$", kNoCase, api().OnigSyntaxRuby);
    ASSERT_TRUE(rx);
    const auto count = [&rx](const std::string& text) {
        std::vector<Match> hits;
        return FindAll(text, rx, false, hits);
    };
    const std::string backtracking = std::string(100, 'a') + "b";
    {
        SearchBudget budget(std::chrono::minutes(1));
        EXPECT_EQ(count(backtracking), 0);
        EXPECT_EQ(budget.Error(), "retry-limit-in-match over");
        EXPECT_EQ(count("aaa"), 0);
    }
    EXPECT_EQ(rx.GaveUp(), "retry-limit-in-match over");
    EXPECT_EQ(count("aaa"), 0);  // painting marks does not pay again
    {
        SearchBudget budget(std::chrono::minutes(1));
        EXPECT_EQ(count("aaa"), 1);
        EXPECT_EQ(budget.Error(), "");
        const SearchBudget spent(std::chrono::seconds(0));  // the inner one counts
        EXPECT_EQ(count("aaa"), 0);
        EXPECT_EQ(spent.Error(), J("検索を打ち切りました: 時間がかかりすぎます"));
        EXPECT_EQ(budget.Error(), "");
    }
    std::string error;
    EXPECT_TRUE(CompileForSearch(std::string(MaxPatternBytes, 'a'), kCase, api().OnigSyntaxRuby, &error));
    EXPECT_FALSE(CompileForSearch(std::string(MaxPatternBytes + 1, 'a'), kCase, api().OnigSyntaxRuby, &error));
    EXPECT_EQ(error, J("パターンが長すぎます (8192 バイトまで)"));
}

TEST_F(OnigSearch, WholeWordTakesOnlyTheStandaloneWord)
{
    const auto hits = Find("ab abc xab", "ab", false, kNoCase, true);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].start, 1);
    EXPECT_EQ(hits[0].length, 2);
    // Without the flag all three are found.
    EXPECT_EQ(Starts(Find("ab abc xab", "ab", false)), (std::vector<int>{1, 4, 9}));
    EXPECT_EQ(Starts(Find("ab-ab,ab_ab.ab", "ab", false, kNoCase, true)), (std::vector<int>{7, 10, 13}));
    EXPECT_TRUE(Find("abab", "ab", false, kNoCase, true).empty());
    // Matches that touch: each is judged by the character before it, the other match's last one.
    EXPECT_EQ(Starts(Find(J("カあ"), J("カ|あ"), true, kNoCase, true)), (std::vector<int>{1, 3}));
    EXPECT_EQ(Starts(Find(J("xカあ"), J("カ|あ"), true, kNoCase, true)), (std::vector<int>{2, 4}));
    EXPECT_EQ(Starts(Find(J("カカあ"), J("カ|あ"), true, kNoCase, true)), std::vector<int>{5});
}

TEST_F(OnigSearch, WholeWordAcrossCharacterKinds)
{
    // Katakana directly followed by hiragana: different classes, so the word stands alone.
    const auto kana = Find(J("カナです"), J("カナ"), false, kNoCase, true);
    ASSERT_EQ(kana.size(), 1u);
    EXPECT_EQ(kana[0].start, 1);
    EXPECT_EQ(kana[0].length, 4);
    EXPECT_TRUE(Find(J("カナカ"), J("カナ"), false, kNoCase, true).empty());
    EXPECT_EQ(Starts(Find(J("東京と京都"), J("京"), false, kNoCase, true)), std::vector<int>{});
    EXPECT_EQ(Starts(Find(J("漢字です、漢字"), J("漢字"), false, kNoCase, true)), (std::vector<int>{1, 11}));
    EXPECT_EQ(Starts(Find(J("１２３あ１２"), J("１２３"), false, kNoCase, true)), std::vector<int>{1});
    // Full-width letters are their own kind next to ASCII.
    EXPECT_EQ(Starts(Find(J("ＡＢab"), "ab", false, kCase, true)), std::vector<int>{5});
    // Half-width katakana next to ASCII letters.
    EXPECT_EQ(Starts(Find("\xB1\xB2" "ab", "ab", false, kNoCase, true)), std::vector<int>{3});
    // The byte before "B" is the trail byte of ア (83 41 = "A"): it counts as katakana.
    EXPECT_EQ(Starts(Find("\x83\x41" "B\x83\x41" "B", "b", false, kNoCase, true)), (std::vector<int>{3, 6}));
    EXPECT_TRUE(Find("AB", "b", false, kNoCase, true).empty());
    // A match that ends in a trail byte is classed by its lead byte: ア then ASCII "A".
    EXPECT_EQ(Starts(Find("\x83\x41" "A", "\x83\x41", false, kNoCase, true)), std::vector<int>{1});
}

TEST_F(OnigSearch, WholeWordAgreesWithTheClassTable)
{
    // Random texts of mixed characters; whole-word find-all must keep exactly the hits of a plain
    // find-all whose ends change class by CharClass.
    const std::vector<std::string> pieces = {"a",      "b",      "1",        " ",        ",",        "-",
                                             "\xB1",   "\xA1",   J("ア"),    J("あ"),    J("亜"),    J("Ａ"),
                                             J("、"), "\x83\x41", "\x82\x61", "\x88\x9F", "\x81\x40", "_"};
    std::mt19937 rng(1234);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::uniform_int_distribution<int> length(1, 40);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int n = length(rng);
        for (int i = 0; i < n; ++i)
            text += pieces[pick(rng)];
        // Every third pattern is an alternation, so that matches also follow each other directly
        // with different characters on either side of the seam.
        const bool alternation = round % 3 == 0;
        const std::string pattern = pieces[pick(rng)] + (alternation ? "|" : "") + (round % 2 ? pieces[pick(rng)] : "");
        const auto all = Find(text, pattern, alternation, kCase, false);
        const auto words = Find(text, pattern, alternation, kCase, true);
        std::vector<int> expected;
        for (const Match& m : all) {
            const long long p = m.start;
            const long long len = m.length;
            if (CharClass(text, p) != CharClass(text, p - 1) &&
                CharClass(text, p + len - 1) != CharClass(text, p + len))
                expected.push_back(m.start);
        }
        ASSERT_EQ(Starts(words), expected) << "round " << round;
    }
}

TEST(OnigCharClass, DoubleByteBoundaries)
{
    struct Case {
        const char* bytes;
        int cls;
    };
    const Case cases[] = {
        {"\x81\x40", 0}, {"\x81\x51", 0}, {"\x81\x5A", 0}, {"\x81\xA4", 0},  // full-width symbols
        {"\x88\x9E", 0}, {"\x88\x9F", 6}, {"\x98\x72", 6}, {"\xE0\x40", 6}, {"\xFC\xFC", 6},
        {"\x82\x4E", 0}, {"\x82\x4F", 3}, {"\x82\x60", 3}, {"\x82\x9A", 3}, {"\x82\x9B", 0},
        {"\x83\x3F", 0}, {"\x83\x40", 4}, {"\x83\x96", 4}, {"\x83\x97", 0},
        {"\x82\x9E", 0}, {"\x82\x9F", 5}, {"\x82\xF1", 5}, {"\x82\xF2", 0},
    };
    for (const Case& c : cases) {
        const std::string text = c.bytes;
        EXPECT_EQ(CharClass(text, 1), c.cls) << std::hex << (unsigned char)text[0] << (unsigned char)text[1];
        // The trail byte is classed with its lead byte.
        EXPECT_EQ(CharClass(text, 2), c.cls) << std::hex << (unsigned char)text[0] << (unsigned char)text[1];
    }
}

TEST(OnigCharClass, SingleBytes)
{
    for (char c : std::string_view("\t\n\r !#$%&'()=~^{}[]@;+:*,<.>/?_\"\\|`"))
        EXPECT_EQ(CharClass(std::string(1, c), 1), 0) << c;
    for (char c : std::string_view("azAZ09-\x01\x08\x1B\x7F"))
        EXPECT_EQ(CharClass(std::string(1, c), 1), 1) << int(c);
    EXPECT_EQ(CharClass(std::string(1, '\0'), 1), 0);
    // Half-width katakana, except the half-width punctuation ､ ｡ ･.
    for (unsigned b : {0xA2u, 0xA3u, 0xA6u, 0xB1u, 0xDEu, 0xDFu})
        EXPECT_EQ(CharClass(std::string(1, char(b)), 1), 2) << std::hex << b;
    for (unsigned b : {0xA1u, 0xA4u, 0xA5u, 0x80u, 0xA0u, 0xFDu, 0xFEu, 0xFFu})
        EXPECT_EQ(CharClass(std::string(1, char(b)), 1), 0) << std::hex << b;
    // A lead byte with nothing after it stands alone.
    EXPECT_EQ(CharClass("a\x83", 2), 0);
    EXPECT_EQ(CharClass("a\x88", 2), 0);
}

TEST(OnigCharClass, PositionsAreFoundFromTheStartOfTheText)
{
    // 83 83 is ャ; the 41 after it is then a single "A", not the trail of a second 83.
    const std::string text = "\x83\x83\x41";
    EXPECT_EQ(CharClass(text, 1), 4);
    EXPECT_EQ(CharClass(text, 2), 4);
    EXPECT_EQ(CharClass(text, 3), 1);
    // 41 after 83 is a trail byte.
    EXPECT_EQ(CharClass("x\x83\x41", 3), 4);
    EXPECT_EQ(CharClass("x\x83\x41", 1), 1);
}

TEST(OnigCharClass, OutsideTheText)
{
    EXPECT_EQ(CharClass("ab", 0), 0);
    EXPECT_EQ(CharClass("ab", -5), 0);
    EXPECT_EQ(CharClass("ab", 3), 0);
    EXPECT_EQ(CharClass("", 1), 0);
    EXPECT_EQ(CharClass("ab", 2), 1);
}

}  // namespace
}  // namespace pek::onig

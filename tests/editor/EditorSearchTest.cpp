#include "editor/EditorSearch.h"

#include <gtest/gtest.h>

#include <random>

#include "editor/EditorModel.h"
#include "platform/CharClass.h"
#include "regex/Onig.h"

namespace pek {
namespace {

std::vector<long long> Starts(const TLineMatcher& m, std::string_view line)
{
    std::vector<long long> out;
    for (const auto& x : m.Matches(line)) out.push_back(x.start);
    return out;
}

TEST(EditorSearch, PlainSearchWithAndWithoutCase)
{
    TLineMatcher m;
    ASSERT_TRUE(m.Prepare("ab", 0, false));
    EXPECT_EQ(Starts(m, "ab AB aB xab"), (std::vector<long long>{0, 3, 6, 10}));
    ASSERT_TRUE(m.Prepare("ab", soMatchCase, false));
    EXPECT_EQ(Starts(m, "ab AB aB xab"), (std::vector<long long>{0, 10}));
    EXPECT_FALSE(m.Prepare("", 0, false));
}

TEST(EditorSearch, PlainSearchFoldsFullWidthLettersToo)
{
    TLineMatcher m;
    // Full-width A (82 60) and a (82 81).
    ASSERT_TRUE(m.Prepare("\x82\x81x", 0, false));
    EXPECT_EQ(Starts(m, "\x82\x60X \x82\x81x"), (std::vector<long long>{0, 4}));
    ASSERT_TRUE(m.Prepare("\x82\x81x", soMatchCase, false));
    EXPECT_EQ(Starts(m, "\x82\x60X \x82\x81x"), (std::vector<long long>{4}));
}

TEST(EditorSearch, PlainSearchNeverMatchesInsideADoubleByteCharacter)
{
    TLineMatcher m;
    // 0x8140 is the full-width space: its trail byte is "@"; 0x8261 is a full-width A whose trail
    // byte is "a".
    ASSERT_TRUE(m.Prepare("@", 0, false));
    EXPECT_EQ(Starts(m, "\x81\x40@"), (std::vector<long long>{2}));
    ASSERT_TRUE(m.Prepare("A", 0, false));
    EXPECT_EQ(Starts(m, "\x82\x61" "a"), (std::vector<long long>{2}));
}

TEST(EditorSearch, WholeWordUsesTheCharacterClasses)
{
    TLineMatcher m;
    ASSERT_TRUE(m.Prepare("ab", soWholeWord | soMatchCase, false));
    EXPECT_EQ(Starts(m, "ab abc xab"), (std::vector<long long>{0}));
    // Katakana directly followed by hiragana: a different class, so a whole word.
    ASSERT_TRUE(m.Prepare("\x83\x4a\x83\x5e", soWholeWord, false));
    EXPECT_EQ(Starts(m, "\x83\x4a\x83\x5e\x82\xa9\x82\xc8"), (std::vector<long long>{0}));
    EXPECT_TRUE(Starts(m, "\x83\x4a\x83\x5e\x83\x4a").empty());
}

TEST(EditorSearch, WholeWordPlainSearchAgreesWithTheClassTableAndStaysLinear)
{
    // Against the table's own definition (each class found from the start of the line), on random
    // lines of words of every class; a needle may itself be part of a longer word.
    std::mt19937 rng(5);
    const std::vector<std::string> pieces = {"ab", "a", " ", "\x83\x4a", "\x82\xa0", "\x88\x9f", "\xb1", ",", "\x81\x40"};
    for (int round = 0; round < 300; ++round) {
        std::string line, needle;
        for (int k = 0; k < 12; ++k) line += pieces[rng() % pieces.size()];
        for (int k = 0; k < 1 + int(rng() % 2); ++k) needle += pieces[rng() % 6];
        TLineMatcher plain, whole;
        ASSERT_TRUE(plain.Prepare(needle, soMatchCase, false));
        ASSERT_TRUE(whole.Prepare(needle, soMatchCase | soWholeWord, false));
        std::vector<long long> expect;
        for (const auto& m : plain.Matches(line)) {
            const long long p = m.start + 1;
            if (CharClass(line, p) != CharClass(line, p - 1) && CharClass(line, p + m.length - 1) != CharClass(line, p + m.length))
                expect.push_back(m.start);
        }
        ASSERT_EQ(Starts(whole, line), expect) << line << " / " << needle;
    }
    // A 1 MB line of one repeated word: every candidate fails the test. Walking to each one from the
    // line start would take the better part of an hour here.
    std::string longLine;
    for (int i = 0; i < 1 << 18; ++i) longLine += "abab";
    TLineMatcher m;
    ASSERT_TRUE(m.Prepare("ab", soWholeWord, false));
    EXPECT_TRUE(m.Matches(longLine).empty());
    longLine += " ab";
    EXPECT_EQ(Starts(m, longLine), (std::vector<long long>{static_cast<long long>(longLine.size()) - 2}));
}

TEST(EditorSearch, EscapeSequencesAreInterpreted)
{
    EXPECT_EQ(UnescapeFindString("a\\tb\\\\c\\x41\\q"), "a\tb\\cA\\q");
    TLineMatcher m;
    ASSERT_TRUE(m.Prepare("a\\tb", soEscSeq, false));
    EXPECT_EQ(Starts(m, "xa\tb"), (std::vector<long long>{1}));
}

TEST(EditorSearch, RegularExpressionsNeedTheLibrary)
{
    TLineMatcher m;
    EXPECT_FALSE(m.Prepare("a+", soRegexp, false));
    if (!onig::Load()) GTEST_SKIP() << "regular-expression library not installed";
    std::string error;
    ASSERT_TRUE(m.Prepare("[0-9]+", soRegexp, true, &error)) << error;
    EXPECT_EQ(Starts(m, "ab12 3x45"), (std::vector<long long>{2, 5, 7}));
    ASSERT_TRUE(m.Prepare("ERR", soRegexp, true));
    EXPECT_EQ(Starts(m, "err Err"), (std::vector<long long>{0, 4}));
    ASSERT_TRUE(m.Prepare("ERR", soRegexp | soMatchCase, true));
    EXPECT_TRUE(Starts(m, "err Err").empty());
    ASSERT_TRUE(m.Prepare("ab", soRegexp | soWholeWord, true));
    EXPECT_EQ(Starts(m, "ab abc xab"), (std::vector<long long>{0}));
    EXPECT_FALSE(m.Prepare("(", soRegexp, true, &error));
    EXPECT_FALSE(error.empty());
    onig::Unload();
}

TEST(EditorSearch, FindNextAndPreviousFromTheCaret)
{
    TEditorModel m;
    m.SetText("one two\r\nthree two\r\ntwo");
    m.SetFindString("TWO");
    ASSERT_TRUE(m.FindNext());
    EXPECT_EQ(m.HitPos(), (TTextPos{0, 4}));
    EXPECT_EQ(m.HitSelLength(), 3);
    EXPECT_EQ(m.SelText(), "two");
    ASSERT_TRUE(m.FindNext());
    EXPECT_EQ(m.HitPos(), (TTextPos{1, 6}));
    ASSERT_TRUE(m.FindNext());
    EXPECT_EQ(m.HitPos(), (TTextPos{2, 0}));
    EXPECT_FALSE(m.FindNext());
    ASSERT_TRUE(m.FindPrev());
    EXPECT_EQ(m.HitPos(), (TTextPos{1, 6}));
    m.SetExSearchOptions(soMatchCase);
    EXPECT_FALSE(m.FindPrev());
}

TEST(EditorSearch, FindStringsWithLineBreaksMatchAcrossLines)
{
    // Escaped \r, \n or both stand for one line break of the text; the hit covers the whole span.
    struct Case {
        const char* find;
        TSearchOptions options;
        bool regex;
        std::vector<TTextPos> hits;  // forward from the start
        std::string firstHit;
    };
    const std::vector<Case> cases = {
        {"OK\\r\\nAT", soEscSeq, false, {{1, 1}}, "OK\r\nAT"},
        {"ok\\nat", soEscSeq, false, {{1, 1}}, "OK\r\nAT"},
        {"K\\r\\n\\r\\nX", soEscSeq, false, {{3, 1}}, "K\r\n\r\nX"},
        {"\\r\\n\x81", soEscSeq, false, {{6, 2}}, "\r\n\x81"},  // after a lead byte left unpaired
        {"OK\\r?\\nAT", soRegexp, true, {{1, 1}}, "OK\r\nAT"},
        {"[0-9]\\s+\\w", soRegexp, true, {{0, 2}, {2, 2}}, "1\r\nx"},
        {"[A-Z]+", soRegexp | soMatchCase, true, {{1, 1}, {2, 0}, {2, 4}, {3, 0}, {5, 0}, {6, 0}}, "OK"},
    };
    const std::string text = "x 1\r\nxOK\r\nAT2 OK\r\nOK\r\n\r\nX\r\nZ\x81\r\n\x81";
    const bool haveRegex = onig::Load();
    for (const Case& c : cases) {
        if (c.regex && !haveRegex) continue;
        TEditorModel m;
        m.SetRegexAvailable(haveRegex);
        m.SetText(text);
        m.SetFindString(c.find);
        m.SetExSearchOptions(c.options);
        std::vector<TTextPos> hits;
        while (m.FindNext() && hits.size() < 10) hits.push_back(m.HitPos());
        EXPECT_EQ(hits, c.hits) << c.find;
        m.SetCaretPos({0, 0});
        ASSERT_TRUE(m.FindNext()) << c.find;
        EXPECT_EQ(m.SelText(), c.firstHit) << c.find;
        EXPECT_EQ(m.HitSelLength(), static_cast<long long>(c.firstHit.size())) << c.find;
        // Backwards from the end meets the hits in the opposite order.
        m.SetCaretPos(m.Lines().EndPos());
        std::vector<TTextPos> back;
        while (m.FindPrev() && back.size() < 10) back.push_back(m.HitPos());
        EXPECT_EQ(std::vector<TTextPos>(back.rbegin(), back.rend()), c.hits) << c.find;
    }
    // Find marks cover every line a match runs through.
    TEditorModel m;
    m.SetText(text);
    m.SetFindString("2 OK\\r\\nOK\\r\\n\\r\\nX");
    m.SetExSearchOptions(soEscSeq);
    const std::vector<std::vector<std::pair<long long, long long>>> marked = {{}, {}, {{2, 4}}, {{0, 2}}, {}, {{0, 1}}};
    for (long long line = 0; line < 6; ++line) {
        std::vector<std::pair<long long, long long>> got;
        for (const TLineMatch& x : m.MatchesInLine(line)) got.push_back({x.start, x.length});
        EXPECT_EQ(got, marked[size_t(line)]) << line;
    }
    if (haveRegex) onig::Unload();
}

TEST(EditorSearch, HitToSelectedWithADrawnHit)
{
    TEditorModel m;
    m.SetHitStyle(THitStyle::hsDraw);
    m.SetText("abcabc");
    m.SetFindString("bc");
    ASSERT_TRUE(m.FindNext());
    EXPECT_FALSE(m.Selected());
    EXPECT_EQ(m.CaretPos(), (TTextPos{0, 1}));
    ASSERT_TRUE(m.FindNext());
    EXPECT_EQ(m.HitPos(), (TTextPos{0, 4}));
    m.HitToSelected();
    EXPECT_EQ(m.SelStart(), 4);
    EXPECT_EQ(m.SelLength(), 2);
}

TEST(EditorSearch, RegularExpressionSearchInTheModel)
{
    TEditorModel m;
    m.SetText("id=12\r\nid=345");
    m.SetFindString("[0-9]{3}");
    m.SetExSearchOptions(soRegexp);
    EXPECT_FALSE(m.FindNext());  // the model has not been told the library is there
    if (!onig::Load()) GTEST_SKIP() << "regular-expression library not installed";
    m.SetRegexAvailable(true);
    ASSERT_TRUE(m.FindNext());
    EXPECT_EQ(m.HitPos(), (TTextPos{1, 3}));
    EXPECT_EQ(m.SelText(), "345");
    onig::Unload();
}

TEST(EditorSearch, APatternIsCompiledOncePerFindStringEvenWhenItFails)
{
    if (!onig::Load()) GTEST_SKIP() << "regular-expression library not installed";
    TEditorModel m;
    m.SetRegexAvailable(true);
    std::string text;
    for (int i = 0; i < 100; ++i) text += "id=12\r\n";
    m.SetText(text);
    m.SetExSearchOptions(soRegexp);
    for (const char* pattern : {"(", "[0-9]+"}) {
        m.SetFindString(pattern);
        const auto before = onig::CompileCount();
        for (long long line = 0; line < m.Lines().LineCount(); ++line) m.MatchesInLine(line);
        m.FindNext();
        m.FindNext();
        EXPECT_EQ(onig::CompileCount() - before, 1u) << pattern;
    }
    EXPECT_EQ(m.MatchesInLine(3).size(), 1u);
    m.Lines().PutLine(3, "12 34");  // a changed line is searched again
    EXPECT_EQ(m.MatchesInLine(3).size(), 2u);
    onig::Unload();
}

}  // namespace
}  // namespace pek

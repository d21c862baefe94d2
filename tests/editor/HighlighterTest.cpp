#include "editor/Highlighter.h"

#include <gtest/gtest.h>

#include "editor/EditorModel.h"

namespace pek {
namespace {

THighlightRules LuaRules()
{
    THighlightRules r;
    r.Commenter = "--";
    r.Brackets = {{"--[", "]", 65280}, {"\"", "\"", 16776960}, {"'", "'", 16776960}};
    r.ReserveWords = {"and", "break", "do", "else", "end", "function", "if", "local", "nil", "return", "then"};
    return r;
}

struct Piece {
    std::string text;
    TTokenKind kind;
    int bracket;
    bool operator==(const Piece&) const = default;
};

std::vector<Piece> Pieces(const THighlighter& h, std::string_view line, int state = -1, int* endState = nullptr)
{
    std::vector<TToken> tokens;
    const int end = h.Tokenize(line, state, &tokens);
    if (endState) *endState = end;
    std::vector<Piece> out;
    for (const auto& t : tokens) out.push_back({std::string(line.substr(t.start, t.length)), t.kind, t.bracket});
    return out;
}

TEST(Highlighter, QuotedStringContainingHyphensStaysOneRangeAndTheCommentFollows)
{
    THighlighter h;
    h.SetRules(LuaRules());
    const auto p = Pieces(h, "x = \"a--b\" -- note");
    ASSERT_EQ(p.size(), 7u);
    EXPECT_EQ(p[4], (Piece{"\"a--b\"", TTokenKind::Range, 1}));
    EXPECT_EQ(p[5], (Piece{" ", TTokenKind::Space, -1}));
    EXPECT_EQ(p[6], (Piece{"-- note", TTokenKind::Comment, -1}));
}

TEST(Highlighter, CommentStartingWithARangeOpenerEndsAtTheClosingBracket)
{
    THighlighter h;
    h.SetRules(LuaRules());
    const auto p = Pieces(h, "--[ old ] end");
    ASSERT_GE(p.size(), 3u);
    EXPECT_EQ(p[0], (Piece{"--[ old ]", TTokenKind::Range, 0}));
    EXPECT_EQ(p.back(), (Piece{"end", TTokenKind::Reserve, -1}));
}

TEST(Highlighter, RangeStaysOpenAcrossLines)
{
    THighlighter h;
    h.SetRules(LuaRules());
    int state = -1;
    auto p = Pieces(h, "a --[ one", -1, &state);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(p.back(), (Piece{"--[ one", TTokenKind::Range, 0}));
    p = Pieces(h, "two -- \"still\"", state, &state);
    EXPECT_EQ(state, 0);
    ASSERT_EQ(p.size(), 1u);
    p = Pieces(h, "three ] if", state, &state);
    EXPECT_EQ(state, -1);
    EXPECT_EQ(p[0], (Piece{"three ]", TTokenKind::Range, 0}));
    EXPECT_EQ(p.back(), (Piece{"if", TTokenKind::Reserve, -1}));
}

TEST(Highlighter, ClosingTextIsNotFoundInATrailByte)
{
    THighlighter h;
    THighlightRules r;
    r.Brackets = {{"<", "]", 1}};
    h.SetRules(r);
    // 0x835D is a katakana whose trail byte is "]".
    int state = -1;
    const auto p = Pieces(h, "<\x83\x5d]x", -1, &state);
    EXPECT_EQ(p[0], (Piece{"<\x83\x5d]", TTokenKind::Range, 0}));
    EXPECT_EQ(state, -1);
}

TEST(Highlighter, ReservedWordsIgnoreCaseAndNumbersUrlsMailsAreRecognised)
{
    THighlighter h;
    THighlightRules r;
    r.ReserveWords = {"Error", "error", "OK"};
    h.SetRules(r);
    auto p = Pieces(h, "ERROR: 3.5e+2 ok errors");
    EXPECT_EQ(p[0], (Piece{"ERROR", TTokenKind::Reserve, -1}));
    EXPECT_EQ(p[3], (Piece{"3.5e+2", TTokenKind::Number, -1}));
    EXPECT_EQ(p[5], (Piece{"ok", TTokenKind::Reserve, -1}));
    EXPECT_EQ(p[7], (Piece{"errors", TTokenKind::Word, -1}));
    EXPECT_EQ(h.SortedReserveWords(), (std::vector<std::string>{"Error", "OK"}));
    p = Pieces(h, "see http://example.com/a?b=1 or me@example.org.");
    EXPECT_EQ(p[2], (Piece{"http://example.com/a?b=1", TTokenKind::Url, -1}));
    EXPECT_EQ(p[6], (Piece{"me@example.org", TTokenKind::Mail, -1}));
}

TEST(Highlighter, EndStateAloneAgreesWithTheFullTokenisation)
{
    THighlighter h;
    h.SetRules(LuaRules());
    const std::vector<std::string> lines = {"plain", "a \"b", "--[ x", "x ]", "'", "-- [", "\x83\x5d]", "if x then --[[ y ]] end"};
    for (const auto& line : lines) {
        for (int state = -1; state < 3; ++state) {
            std::vector<TToken> tokens;
            EXPECT_EQ(h.Tokenize(line, state, nullptr), h.Tokenize(line, state, &tokens)) << line << " " << state;
        }
    }
}

TEST(Highlighter, ModelCarriesRangeStatesLazilyAndRecomputesAfterEdits)
{
    TEditorModel m;
    m.SetHighlightRules(LuaRules());
    m.SetText("a\r\n--[ open\r\nmiddle\r\n]\r\nafter");
    EXPECT_EQ(m.LineTokens(2).front().kind, TTokenKind::Range);
    EXPECT_EQ(m.LineTokens(4).front().kind, TTokenKind::Word);
    m.Lines().PutLine(1, "closed");
    EXPECT_EQ(m.LineTokens(2).front().kind, TTokenKind::Word);
    m.Lines().PutLine(0, "\"");
    EXPECT_EQ(m.LineTokens(4).front().kind, TTokenKind::Range);
}

}  // namespace
}  // namespace pek

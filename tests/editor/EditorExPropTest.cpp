#include "editor/EditorExProp.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <sstream>

#include "editor/EditorEx.h"

namespace pek {
namespace {

TEST(EditorExProp, DefaultsAreTheTemplateDesignValues)
{
    const TEditorProps p;
    EXPECT_EQ(p.Color, clBlack);
    EXPECT_EQ(p.Font.Name, "Terminal");
    EXPECT_EQ(p.Font.Height, -13);
    EXPECT_EQ(p.Font.Color, clWhite);
    EXPECT_TRUE(p.WordWrap);
    EXPECT_EQ(p.WrapOption.WrapByte, 80);
    EXPECT_EQ(p.TabSpaceCount, 8);
    EXPECT_EQ(p.UndoListMax, 64);
    EXPECT_TRUE(p.IsAutoColScroll);
    EXPECT_EQ(p.HitStyle, THitStyle::hsSelect);
    EXPECT_EQ(p.ExSearchOptions, 0);
    EXPECT_EQ(p.View.Colors.Reserve.Color, clRed);
    EXPECT_EQ(p.View.Colors.Comment.Color, clLime);
    EXPECT_EQ(p.View.Colors.Select.Color, clBlack);
    EXPECT_EQ(p.View.Colors.Select.BkColor, clYellow);
    EXPECT_TRUE(p.Marks.RetMark.Visible);
    EXPECT_FALSE(p.Marks.Underline.Visible);
    EXPECT_EQ(p.ExMarks.Hit.Color, clYellow);
    EXPECT_TRUE(p.ExMarks.Hit.Style & fsUnderline);
    EXPECT_FALSE(p.Leftbar);
    EXPECT_EQ(p.ScrollBars, TScrollStyle::ssBoth);
}

TEST(EditorExProp, TakesWritesReadsAndPutsEveryProperty)
{
    TEditorEx source;
    TEditorProps p = source.Properties();
    p.Color = 0x00123456;
    p.Font = {"Terminal", -16, 0x00ABCDEF, 128, fsBold};
    p.ReadOnly = true;
    p.WordWrap = false;
    p.WrapOption.WrapByte = 120;
    p.TabSpaceCount = 4;
    p.UndoListMax = 10;
    p.HitStyle = THitStyle::hsDraw;
    p.ExSearchOptions = soMatchCase | soRegexp;
    p.View.Commenter = "--";
    p.View.Brackets = {{"--[", "]", 65280}, {"'", "'", 16776960}};
    p.View.Colors.Int = {0x00FF00FF, clNone, fsItalic};
    p.ReserveWordList = {"and", "end", "if"};
    p.Marks.EofMark.Visible = true;
    p.ExMarks.Img3Line = {0x00000080, 0x00FFFFFF, fsBold, true};
    p.Leftbar = true;
    p.ScrollBars = TScrollStyle::ssVertical;
    p.SelectionMode = TSelectionMode::smBox;
    p.VerticalLines = {40, 80};
    source.SetProperties(p);

    TEditorExProp holder;
    holder.Assign(source);
    EXPECT_EQ(holder.Props(), p);
    std::stringstream stream;
    holder.WriteToStream(stream);

    TEditorExProp other;
    other.ReadFromStream(stream);
    EXPECT_EQ(other.Props(), p);
    TEditorEx target;
    other.AssignTo(target);
    EXPECT_EQ(target.Properties(), p);
    EXPECT_EQ(target.TabSpaceCount(), 4);
    EXPECT_FALSE(target.WordWrap());
    EXPECT_EQ(target.Bracket(0).LeftBracket, "--[");
}

TEST(EditorExProp, RefusesBytesThatAreNotOursAndKeepsItsSet)
{
    TEditorExProp holder;
    holder.Props().TabSpaceCount = 3;
    const std::string good = holder.SaveToBytes();
    TEditorExProp target;
    target.Props().TabSpaceCount = 5;
    const TEditorProps before = target.Props();

    std::vector<std::string> bad = {"", "garbage", good.substr(0, good.size() - 1), good + "x"};
    std::string flipped = good;
    flipped[flipped.size() / 2] = char(flipped[flipped.size() / 2] ^ 0x40);
    bad.push_back(flipped);
    std::string version = good;
    version[14] = 2;  // the version right after the signature
    bad.push_back(version);
    std::mt19937 rng(5);
    for (int i = 0; i < 50; ++i) {
        std::string noise(size_t(rng() % 400), '\0');
        for (char& c : noise) c = char(rng());
        bad.push_back(noise);
        std::string prefixed = good.substr(0, 20) + noise;  // our header, foreign body
        bad.push_back(prefixed);
    }
    for (const auto& bytes : bad) {
        EXPECT_THROW(target.LoadFromBytes(bytes), EEditorPropError);
        EXPECT_EQ(target.Props(), before);
    }
    target.LoadFromBytes(good);
    EXPECT_EQ(target.Props().TabSpaceCount, 3);
}

TEST(EditorExProp, RefusesAWellFramedBodyWithImpossibleValues)
{
    // Each stream is framed and checksummed as ours; only one value in it is out of range.
    using Change = void (*)(TEditorProps&);
    const std::vector<std::pair<const char*, Change>> impossible = {
        {"font height INT_MIN", [](TEditorProps& p) { p.Font.Height = INT_MIN; }},
        {"font height huge", [](TEditorProps& p) { p.Font.Height = 1 << 20; }},
        {"charset", [](TEditorProps& p) { p.Font.Charset = 256; }},
        {"wrap width 0", [](TEditorProps& p) { p.WrapOption.WrapByte = 0; }},
        {"wrap width huge", [](TEditorProps& p) { p.WrapOption.WrapByte = INT_MAX; }},
        {"tab width 0", [](TEditorProps& p) { p.TabSpaceCount = 0; }},
        {"tab width huge", [](TEditorProps& p) { p.TabSpaceCount = 1 << 30; }},
        {"undo steps negative", [](TEditorProps& p) { p.UndoListMax = -1; }},
        {"guide line huge", [](TEditorProps& p) { p.VerticalLines = {40, INT_MAX / 2}; }},
        {"guide line negative", [](TEditorProps& p) { p.VerticalLines = {-7}; }},
        {"colour", [](TEditorProps& p) { p.Color = 0x7F000000; }},
        {"colour item", [](TEditorProps& p) { p.View.Colors.Str.BkColor = 0x01000000; }},
        {"mark colour", [](TEditorProps& p) { p.ExMarks.EvenLine.Color = 0xFFFFFFFF; }},
        {"bracket colour", [](TEditorProps& p) { p.View.Brackets = {{"(", ")", 0x80000000}}; }},
        {"font style", [](TEditorProps& p) { p.ExMarks.Hit.Style = 0x80; }},
        {"search options", [](TEditorProps& p) { p.ExSearchOptions = 0x10; }},
    };
    TEditorExProp target;
    target.Props().TabSpaceCount = 5;
    const TEditorProps before = target.Props();
    for (const auto& [name, change] : impossible) {
        TEditorExProp holder;
        change(holder.Props());
        EXPECT_THROW(target.LoadFromBytes(holder.SaveToBytes()), EEditorPropError) << name;
        EXPECT_EQ(target.Props(), before) << name;
    }
    // The edges themselves are values a control can hold.
    TEditorExProp edges;
    edges.Props().Font.Height = -kMaxFontHeight;
    edges.Props().WrapOption.WrapByte = kMaxColumn;
    edges.Props().VerticalLines = {0, kMaxColumn};
    edges.Props().View.Colors.Str = {clWhite, clNone, fsBold | fsItalic | fsUnderline | fsStrikeOut};
    EXPECT_NO_THROW(target.LoadFromBytes(edges.SaveToBytes()));
    EXPECT_EQ(target.Props(), edges.Props());
}

}  // namespace
}  // namespace pek

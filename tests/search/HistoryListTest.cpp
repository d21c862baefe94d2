#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "search/HistoryList.h"
#include "search/SearchText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

namespace pek::test {
namespace {

using Items = std::vector<std::string>;

TEST(HistoryList, AddItemAgainstAModelUnderRandomOperations)
{
    std::mt19937 random(7);
    for (const bool ignoreCase : {false, true}) {
        THistoryList list;
        list.Max = 4;
        list.IgnoreCase = ignoreCase;
        std::deque<std::string> model;
        const auto same = [&](const std::string& a, const std::string& b) {
            return ignoreCase ? QString::fromLatin1(a.c_str()).toLower() == QString::fromLatin1(b.c_str()).toLower() : a == b;
        };
        for (int step = 0; step < 2000; ++step) {
            const char* const words[] = {"", "a", "A", "b", "abc", "ABC", "c", "d", "e", "f"};
            const std::string text = words[random() % std::size(words)];
            if (random() % 5 == 0) {
                const int index = int(random() % 6);
                list.SelectItem(index);
                if (index < int(model.size())) {
                    const std::string item = model[std::size_t(index)];
                    model.erase(model.begin() + index);
                    model.push_front(item);
                }
            } else {
                list.AddItem(text);
                if (!text.empty()) {
                    // Both by the old places: a duplicate among the newest four leaves three.
                    if (model.size() > 4) model.resize(4);
                    std::erase_if(model, [&](const std::string& e) { return same(e, text); });
                    model.push_front(text);
                }
            }
            ASSERT_EQ(list.History(), Items(model.begin(), model.end())) << step;
        }
    }
}

TEST(HistoryList, StoredWithTrailingEmptyItemAndDataInStep)
{
    TempDir dir;
    ProfileFile ini(dir.file("h.ini").string());
    THistoryList list;
    list.Section = "Surchwin";
    list.Ident = Sjis("検索");
    list.AddItem("a");
    list.AddItem("b\r\nsecond line");
    list.AddItem("");
    list.SaveHistory(&ini);
    EXPECT_EQ(ini.ReadString("Surchwin", Sjis("検索"), "-"), "b,a,");
    EXPECT_EQ(list.History(), (Items{"b", "a"}));  // saving leaves the list as it was

    THistoryList other = list;
    other.SetHistory({});
    other.LoadHistory(&ini);
    EXPECT_EQ(other.History(), (Items{"b", "a"}));
    other.LoadHistory(nullptr);

    THistoryList data;
    data.WithData = true;
    data.AddItem("x", "1");
    data.AddItem("y", "2");
    data.AddItem("x", "3");
    data.SelectItem(1);
    EXPECT_EQ(data.History(), (Items{"y", "x"}));
    EXPECT_EQ(data.HistData(), (Items{"2", "3"}));
    data.SaveHistory(&ini);
    EXPECT_EQ(ini.ReadString("History", "HistData", ""), "2,3,");
    WriteFileBytes(dir.file("h.ini"), "[History]\nHistory=p,,q,\nHistData=1,2,3,\n");
    data.LoadHistory(&ini);
    EXPECT_EQ(data.History(), (Items{"p", "q"}));
    EXPECT_EQ(data.HistData(), (Items{"1", "3"}));
}

TEST(SearchText, WildcardsAndOptions)
{
    const struct {
        std::string wildcard, regex;
    } cases[] = {
        {"a*b?.txt", "a(.*)b(.)\\.txt"},
        {"AT+C*", "AT\\+C(.*)"},
        {"{1}[x]|$^()\\", "\\{1\\}\\[x\\]\\|\\$\\^\\(\\)\\\\"},
        {Sjis("表*"), Sjis("表") + "(.*)"},  // the trail byte of 表 is a backslash
        {"\x81", "\x81"},
    };
    for (const auto& c : cases) EXPECT_EQ(WildcardToRegex(c.wildcard), c.regex) << c.wildcard;
    EXPECT_EQ(SearchOptionsFor(TSearchType::Plain, false), 0);
    EXPECT_EQ(SearchOptionsFor(TSearchType::Plain, true), soMatchCase);
    EXPECT_EQ(SearchOptionsFor(TSearchType::Regex, false), soRegexp | soEscSeq);
    EXPECT_EQ(SearchOptionsFor(TSearchType::Wildcard, true), soMatchCase | soRegexp | soEscSeq);
}

TEST(SearchText, MarginKeepsTheCaretInView)
{
    const struct {
        long long caret, top, rows, expected;
    } cases[] = {
        {50, 0, 10, 43}, {50, 49, 10, 47}, {5, 40, 10, 2}, {1, 40, 10, 0}, {20, 15, 10, 15},
        {90, 0, 2, 90}, {90, 95, 2, 90}, {90, 0, 1, 90}, {90, 0, 3, 90}, {10, 0, 0, 10},
    };
    for (const auto& c : cases) {
        const long long top = TopRowWithMargin(c.caret, c.top, c.rows);
        EXPECT_EQ(top, c.expected) << c.caret << " " << c.top << " " << c.rows;
        EXPECT_TRUE(c.caret >= top && c.caret < top + std::max(1LL, c.rows));
    }
}

}  // namespace
}  // namespace pek::test

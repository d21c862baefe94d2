#include "terminal/CommandHistory.h"

#include <gtest/gtest.h>

using pek::CommandHistory;

TEST(CommandHistory, MostRecentFirstWithoutDuplicatesOrEmptiesAtMostTwenty)
{
    CommandHistory h;
    h.Add("ATZ");
    h.Add("ATI");
    h.Add("ATZ");
    h.Add("ATZ");
    h.Add("");
    EXPECT_EQ(h.Items(), (std::vector<std::string>{"ATZ", "ATI"}));
    for (int i = 0; i < 25; ++i) h.Add("cmd" + std::to_string(i));
    ASSERT_EQ(h.Items().size(), 20u);
    EXPECT_EQ(h.Items().front(), "cmd24");
    EXPECT_EQ(h.Items().back(), "cmd5");
}

TEST(CommandHistory, LoadedListsAreCleanedUp)
{
    CommandHistory h;
    std::vector<std::string> loaded{"a", "", "b", "a"};
    for (int i = 0; i < 30; ++i) loaded.push_back("x" + std::to_string(i));
    h.SetItems(loaded);
    EXPECT_EQ(h.Items().size(), 20u);
    EXPECT_EQ(h.Items()[0], "a");
    EXPECT_EQ(h.Items()[1], "b");
}

#include "debugger/BreakPoints.h"
#include "debugger/GlobalsModel.h"
#include "debugger/SourceFiles.h"

#include <gtest/gtest.h>

namespace pek {
namespace {

TEST(SourceFiles, NamesShortenOneDirectoryAtATime)
{
    const auto chars = [](const std::string& s) { return int(s.size()); };
    const std::string name = "/home/user/project/file.lua";
    const std::vector<std::pair<int, std::string>> cases = {
        {27, name},
        {26, "/.../user/project/file.lua"},
        {25, "/.../project/file.lua"},
        {20, "/.../file.lua"},
        {12, ".../file.lua"},
        {11, "file.lua"},
        {1, "file.lua"},
    };
    for (const auto& [width, expected] : cases) EXPECT_EQ(ShortenFileName(name, width, chars), expected) << width;
    EXPECT_EQ(ShortenFileName("x/y/z.lua", 6, chars), "z.lua");
    EXPECT_EQ(ShortenFileName("x/y/z.lua", 10, chars), "x/y/z.lua");
    EXPECT_EQ(FullSourcePath(""), "");
    EXPECT_EQ(FullSourcePath("/tmp/./a/../b.lua"), "/tmp/b.lua");
}

TEST(BreakPoints, ListOperations)
{
    TBreakPoints list;
    list.Toggle("a.lua", 3);
    list.Toggle("b.lua", 1);
    list.Add("a.lua", 3, false);  // duplicates only when asked
    list.Add("a.lua", 3, true);
    EXPECT_EQ(list.Count(), 3);
    list.Toggle("a.lua", 3);  // removes the first of them
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(0), (TBreakInfo{"b.lua", 1}));
    EXPECT_EQ(list.IndexOf("A.lua", 3), -1);  // names compare exactly
    list.Delete(5);
    list.Remove("b.lua", 1);
    list.Remove("b.lua", 1);
    EXPECT_EQ(list.Count(), 1);
    list.Clear();
    list.Delete(0);
    EXPECT_TRUE(list.Empty());
}

TEST(GlobalsModel, LevelsSortIgnoringCaseWithParentsFound)
{
    TGlobalsModel model;
    model.SetTree({{"b = 1", {}}, {"T", {{"z = 1", {}}, {"Y = 2", {}}}}, {"A = 3", {}}});
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.NodeText(model.index(0, 0)), "A = 3");
    EXPECT_EQ(model.NodeText(model.index(1, 0)), "b = 1");
    const QModelIndex table = model.index(2, 0);
    ASSERT_EQ(model.rowCount(table), 2);
    const QModelIndex child = model.index(0, 0, table);
    EXPECT_EQ(model.NodeText(child), "Y = 2");
    EXPECT_EQ(model.parent(child), table);
    EXPECT_FALSE(model.parent(table).isValid());
}

}  // namespace
}  // namespace pek

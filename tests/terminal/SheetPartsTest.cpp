// Sheet settings, captions, the sheet list, pane files and the port watch.
#include "PartsFixture.h"
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"
#include "terminal/Captions.h"
#include "terminal/PaneFiles.h"
#include "terminal/PortWatch.h"
#include "terminal/SheetList.h"
#include "terminal/SheetSettings.h"
#include "editor/Highlighter.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <random>

namespace pek::test {
namespace {

TEST(SheetSettings, EveryPortKeyWrittenIsReadBackUnderRandomValues)
{
    TempDir dir;
    ProfileFile ini(dir.file("pek.ini").string());
    std::mt19937 random(11);
    const auto pick = [&](int first, int last) { return first + int(random() % unsigned(last - first + 1)); };
    for (int round = 0; round < 50; ++round) {
        TCommXEx saved;
        for (const PortKey& key : PortKeys()) {
            const int value = key.first == INT_MIN ? pick(1, 20000) : pick(key.first, key.last);
            try {
                key.set(saved, value);
            } catch (const ECommError&) {  // a combination the port refuses keeps the old value
            }
        }
        SavePortSettings(ini, "No0", &saved, "file.log");
        TCommXEx loaded;
        ASSERT_TRUE(LoadPortSettings(ini, "No0", loaded));
        for (const PortKey& key : PortKeys()) {
            EXPECT_EQ(key.get(loaded), key.get(saved)) << key.key << " in round " << round;
            EXPECT_TRUE(ini.ValueExists("No0", key.key)) << key.key;
        }
    }
    EXPECT_EQ(ini.ReadString("No0", "EditFileName", ""), "file.log");
    SavePortSettings(ini, "No1", nullptr, "plain.txt");
    EXPECT_EQ(ini.ReadSectionKeys("No1"), (std::vector<std::string>{"ComPortOpen", "EditFileName"}));
}

TEST(SheetSettings, ValuesThePortRefusesOrThatAreOutOfRangeKeepTheCurrentSetting)
{
    TempDir dir;
    ProfileFile ini(dir.file("pek.ini").string());
    WriteFileBytes(ini.Path(), "[No0]\r\nComPortOpen=1\r\nComBufLenTrans=0\r\nComBitRate=5\r\nComCrTypTrans=7\r\n"
                               "ComFlowCtrl=x\r\nComTimeTyp=1\r\nComCharSize=7\r\nComDelayTrans=2147483647\r\n");
    TCommXEx port;
    port.SetBitRate(19200);
    const int flow = port.FlowCtrl();
    ASSERT_TRUE(LoadPortSettings(ini, "No0", port));
    EXPECT_EQ(port.BufLenTrans(), 2048);
    EXPECT_EQ(port.BitRate(), 19200);
    EXPECT_EQ(port.CrTypTrans(), ctCr);
    EXPECT_EQ(port.FlowCtrl(), flow);
    EXPECT_EQ(port.TimeTyp(), 1);
    EXPECT_EQ(port.CharSize(), 7);
    EXPECT_EQ(port.DelayTrans(), 0);
    TCommXEx untouched;
    WriteFileBytes(ini.Path(), "[No0]\r\nComPortOpen=0\r\nComBitRate=300\r\n");
    EXPECT_TRUE(LoadPortSettings(ini, "No0", untouched));
    EXPECT_NE(untouched.BitRate(), 300);
    EXPECT_FALSE(LoadPortSettings(ini, "No1", untouched));
}

TEST(SheetSettings, HighlightingOfLuaFilesIsSharedAndTheDefaultsDiffer)
{
    TempDir dir;
    ProfileFile ini(dir.file("pek.ini").string());
    const HighlightSettings lua = ReadHighlight(ini, "A.LUA", 3, {"x"});
    EXPECT_EQ(lua.commenter, "--");
    EXPECT_EQ(lua.brackets.size(), 3u);
    EXPECT_EQ(lua.brackets[0].Color, 65280u);
    EXPECT_EQ(lua.tabWidth, 4);
    const HighlightSettings plain = ReadHighlight(ini, "a.log", 3, {"x", "y"});
    EXPECT_EQ(plain.commenter, "");
    EXPECT_TRUE(plain.brackets.empty());
    EXPECT_EQ(plain.reserveWords, (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(plain.tabWidth, 8);
    HighlightSettings mine{"#", {{"<", ">", 255}}, {"one", "two words"}, 8};
    WriteHighlight(ini, "b.lua", 0, mine);
    const HighlightSettings back = ReadHighlight(ini, "other.Lua", 7, {});
    EXPECT_EQ(back.commenter, "#");
    EXPECT_EQ(back.brackets, mine.brackets);
    EXPECT_EQ(back.reserveWords, mine.reserveWords);
    EXPECT_FALSE(ini.SectionExists("No0"));
}

TEST(SheetSettings, WindowSettingsRoundTrip)
{
    TempDir dir;
    ProfileFile ini(dir.file("pek.ini").string());
    const WindowSettings defaults = ReadWindowSettings(ini);
    EXPECT_EQ(defaults.top, 50);
    EXPECT_EQ(defaults.width, 453);
    WriteWindowSettings(ini, {1, 2, 300, 400, false, false, true});
    const WindowSettings back = ReadWindowSettings(ini);
    EXPECT_EQ(std::tie(back.top, back.left, back.height, back.width), std::make_tuple(1, 2, 300, 400));
    EXPECT_EQ(std::tie(back.echo, back.ctrlCode, back.autoColOff), std::make_tuple(false, false, true));
}

TEST(Captions, NameAndPort)
{
    const struct {
        std::string file;
        std::optional<int> port;
        std::string window, tab;
    } cases[]{
        {Sjis("(無題)"), 1, Sjis("(無題)-COM1"), Sjis("(無題)-COM1")},
        {"/tmp/dir/a.log", std::nullopt, "/tmp/dir/a.log", "a"},
        {"x.tar.gz", 3, "x.tar.gz-COM3", "x.tar-COM3"},
        {Sjis("/ログ/記録.txt"), 12, Sjis("/ログ/記録.txt-COM12"), Sjis("記録-COM12")},
    };
    for (const auto& c : cases) {
        const SheetCaption caption = CaptionOf(c.file, c.port);
        EXPECT_EQ(caption.window, c.window);
        EXPECT_EQ(caption.tab, c.tab);
    }
}

TEST(SheetList, LowestFreePortNumberAndLookups)
{
    SheetList sheets;
    EXPECT_EQ(sheets.LowestFreePortNo(), 1);
    for (int no : {1, 3}) {
        Sheet& sheet = sheets.Add();
        sheet.port = std::make_shared<TCommXEx>();
        sheet.port->SetPortNo(no);
    }
    Sheet& shadow = sheets.Add();
    shadow.sharedPort = sheets.At(0)->port;
    EXPECT_EQ(sheets.LowestFreePortNo(), 2);
    EXPECT_EQ(sheets.IndexOfPort(*sheets.At(1)->port), 1);
    EXPECT_EQ(sheets.At(2)->Port(), sheets.At(0)->port);
    EXPECT_EQ(sheets.At(3), nullptr);
    EXPECT_EQ(sheets.Remove(0)->fileName, UntitledName());
    EXPECT_EQ(sheets.At(1)->Port(), nullptr) << "a shared port that was freed is gone";
    EXPECT_EQ(sheets.LowestFreePortNo(), 1);
}

TEST(PaneFiles, OnlyRegularFilesAreLoadedAndNamesAreProposed)
{
    TempDir dir;
    TEditorModel pane;
    const std::string fifo = dir.file("fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(LoadPaneFile(pane, fifo), Exception);  // would block the window
    EXPECT_THROW(LoadPaneFile(pane, "/dev/null"), Exception);
    EXPECT_FALSE(RegularFileExists(fifo));
    WriteFileBytes(dir.file("a.txt"), "one\r\ntwo");
    LoadPaneFile(pane, dir.file("a.txt").string());
    EXPECT_EQ(pane.Text(), "one\r\ntwo");
    EXPECT_TRUE(RegularFileExists(dir.file("a.txt").string()));
    std::tm local{};
    local.tm_year = 124;
    local.tm_mon = 0;
    local.tm_mday = 31;
    local.tm_hour = 9;
    local.tm_min = 15;
    local.tm_isdst = -1;
    EXPECT_EQ(DefaultLogName(std::mktime(&local)), "Pek20240131_0915.log");
    EXPECT_EQ(WithLogExtension("a"), "a.log");
    EXPECT_EQ(WithLogExtension("a.txt"), "a.txt");
    EXPECT_EQ(WithLogExtension("dir.d/a"), "dir.d/a.log");
}

TEST(PortWatch, APortWhoseDeviceAppearsLaterOpensThen)
{
    TempDir dir;
    PtyPair pty;
    const std::string link = dir.file("adapter").string();
    const auto port = std::make_shared<TCommXEx>();
    port->SetPortResolver([&](int) { return link; });
    EXPECT_THROW(port->Open(), ECommError);  // not plugged in yet
    PortWatch watch([&](int) { return link; });
    int opened = 0;
    watch.Watch(port, [&] { ++opened; });
    watch.Poll();
    EXPECT_FALSE(port->IsOpen());
    std::filesystem::create_symlink(pty.slavePath(), link);
    watch.Poll();
    EXPECT_TRUE(port->IsOpen());
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(watch.Watching(port.get()));
    port->Close();
    // A freed port is simply forgotten.
    auto gone = std::make_shared<TCommXEx>();
    watch.Watch(gone, [&] { ++opened; });
    gone.reset();
    watch.Poll();
    EXPECT_EQ(opened, 1);
}

TEST(SheetSettings, LineEndingThreeIsLineFeedAndTheOldValuesKeepTheirMeaning)
{
    TempDir dir;
    ProfileFile ini(dir.file("pek.ini").string());
    for (const auto& [stored, type] : {std::pair{0, ctNone}, {1, ctCr}, {2, ctCrLf}, {3, ctLf}}) {
        WriteFileBytes(ini.Path(), "[No0]\r\nComPortOpen=1\r\nComCrTypTrans=" + std::to_string(stored) + "\r\n");
        TCommXEx port;
        ASSERT_TRUE(LoadPortSettings(ini, "No0", port));
        EXPECT_EQ(port.CrTypTrans(), type) << stored;
    }
}

}  // namespace
}  // namespace pek::test

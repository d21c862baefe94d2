// Call functions: the stored form, the list editor and the picker on the real window.
#include "macro/MacroHost.h"
#include "platform/Profile.h"
#include "settings/AnswerDialogs.h"
#include "settings/CallFunctions.h"
#include "settings/Settings.h"
#include "settings/callfnc_u.h"
#include "settings/fnc_setting_u.h"
#include "support/EventLoop.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"
#include "terminal/main_u.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>

namespace pek::test {
namespace {

TEST(CallFncText, EntriesSurviveStoreAndReload)
{
    const std::vector<std::vector<CallEntry>> cases = {
        {{"plain", "AT"}},
        {{"a,b", "x,y"}, {"say \"hi\"", "\"quoted\""}, {" lead", "trail "}},
        {{"empty command", ""}, {Sjis("日本語タイトル"), "!!" + Sjis("スクリプト.lua")}},
    };
    for (const auto& entries : cases) {
        const std::string stored = FormatCallFnc(entries);
        EXPECT_EQ(stored.front(), '"');
        EXPECT_EQ(stored.back(), '"');
        EXPECT_EQ(ParseCallFnc(stored), entries) << stored;
        const TempDir dir;
        ProfileFile ini(dir.file("pek.ini").string());
        StoreCallFunctions(ini, entries);
        EXPECT_EQ(LoadCallFunctions(ProfileFile(ini.Path())), entries) << stored;
    }
}

class CallTest : public ::testing::Test {
protected:
    void Start(const std::vector<CallEntry>& entries)
    {
        setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
        WriteFileBytes(dir.file("pek.ini"), "[Ports]\r\nCOM1=" + pty.slavePath() +
                                                "\r\n[No0]\r\nComPortOpen=1\r\nComPortNo=1\r\nComFlowCtrl=5\r\n");
        {
            ProfileFile ini(dir.file("pek.ini").string());
            StoreCallFunctions(ini, entries);
        }
        form = std::make_unique<TPekForm>(dir.file("pek.ini").string());
        form->LoadSheets();
        host = AttachMacroHost(*form);
        settings = AttachSettings(*form);
    }
    void TearDown() override
    {
        if (host) {
            EXPECT_TRUE(host->StopAll(5000));
        }
        settings.reset();
        if (form) form->close();
        host.reset();
    }
    std::vector<CallEntry> Stored() const { return LoadCallFunctions(ProfileFile(dir.file("pek.ini").string())); }
    static void SetCell(QTableWidget& grid, int row, int column, const QString& text)
    {
        if (!grid.item(row, column)) grid.setItem(row, column, new QTableWidgetItem);
        grid.item(row, column)->setText(text);
    }

    TempDir dir;
    PtyPair pty;
    AnswerDialogs dialogs;
    ScopedDialogService scope{dialogs};
    std::unique_ptr<TPekForm> form;
    std::unique_ptr<TMacroHost> host;
    std::unique_ptr<TSettings> settings;
};

TEST_F(CallTest, ListEditorStoresEveryTitledRowAndReloadsClean)
{
    std::vector<CallEntry> twelve;
    for (int i = 1; i <= 12; ++i) twelve.push_back({std::string("t").append(std::to_string(i)), std::string("c").append(std::to_string(i))});
    Start(twelve);
    TFncSettingForm& editor = *settings->FncSettingForm();
    dialogs.onExec = [&](QDialog& d) {
        QTableWidget& grid = *editor.FncStringGrid;
        EXPECT_EQ(&d, &editor);
        EXPECT_EQ(grid.rowCount(), 13) << "the entries and one spare row";
        EXPECT_EQ(grid.item(11, 0)->text(), "t12");
        SetCell(grid, 12, 0, "spare");  // typed into the spare row
        SetCell(grid, 12, 1, "cmd");
        EXPECT_EQ(grid.rowCount(), 14) << "a new spare row follows";
        SetCell(grid, 0, 0, "");  // a cleared title drops the row
        editor.OkBtn->click();
        return d.result();
    };
    form->Action("OptFncSettingAct")->trigger();
    std::vector<CallEntry> expected(twelve.begin() + 1, twelve.end());
    expected.push_back({"spare", "cmd"});
    EXPECT_EQ(Stored(), expected);

    // Edits that were cancelled are gone at the next showing.
    dialogs.onExec = [&](QDialog& d) {
        SetCell(*editor.FncStringGrid, 12, 0, "cancelled");
        editor.CancelBtn->click();
        return d.result();
    };
    form->Action("OptFncSettingAct")->trigger();
    dialogs.onExec = [&](QDialog& d) {
        editor.OkBtn->click();
        return d.result();
    };
    form->Action("OptFncSettingAct")->trigger();
    EXPECT_EQ(Stored(), expected);
}

TEST_F(CallTest, PickerRunsTheCommandBytesUnchanged)
{
    // EE EF reads back from Unicode as FA 40: the bytes must not pass through the command box's text.
    const std::string command = "AT\xEE\xEF";
    Start({{"first", "unused"}, {"send", command}});
    TCallForm& picker = *settings->CallForm();
    dialogs.onExec = [&](QDialog& d) {
        EXPECT_EQ(picker.FncLB->count(), 2);
        EXPECT_EQ(picker.FncLB->currentRow(), 0);
        picker.FncLB->setCurrentRow(1);
        QTest::keyClick(picker.FncLB, Qt::Key_Return);
        return d.result();
    };
    // Ctrl+Enter in the command box opens the picker.
    QTest::keyClick(form->InpCmdCbx->lineEdit(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(dialogs.execs, 1);
    EXPECT_EQ(pty.readExactly(command.size() + 1), command + "\r");
}

TEST_F(CallTest, PickerStartsAScriptRun)
{
    const std::string out = dir.file("ran.txt").string();
    const std::string script = dir.file("s.lua").string();
    WriteFileBytes(script, "local f = io.open([[" + out + "]], 'w') f:write('ran') f:close()\n");
    Start({{"run", "!!" + script}});
    dialogs.onExec = [&](QDialog& d) {
        settings->CallForm()->OkBtn->click();
        return d.result();
    };
    form->CallBtn->click();
    ASSERT_TRUE(host->WaitIdle(10000));
    EXPECT_TRUE(ServeUntil([&] { return std::filesystem::exists(out); }));
}

TEST_F(CallTest, EmptyPickerRunsNothing)
{
    Start({});
    dialogs.onExec = [&](QDialog& d) {
        EXPECT_EQ(settings->CallForm()->FncLB->count(), 0);
        settings->CallForm()->OkBtn->click();
        return d.result();
    };
    form->Action("RunCallCmdAct")->trigger();
    EXPECT_EQ(form->History().Items().size(), 0u);
}

}  // namespace
}  // namespace pek::test

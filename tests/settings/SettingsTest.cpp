// The settings dialog on the real window, offscreen, with a pseudo-terminal as COM1.
#include "editor/EditorEx.h"
#include "platform/Profile.h"
#include "serial/CommXEx.h"
#include "settings/AnswerDialogs.h"
#include "settings/ColorBox.h"
#include "settings/Settings.h"
#include "settings/setting_u.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"
#include "terminal/main_u.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

namespace pek::test {
namespace {

class SettingsTest : public ::testing::Test {
protected:
    void Start(const std::string& no0)
    {
        setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
        WriteFileBytes(dir.file("pek.ini"), "[Ports]\r\nCOM1=" + pty.slavePath() + "\r\n[No0]\r\n" + no0);
        form = std::make_unique<TPekForm>(dir.file("pek.ini").string());
        form->LoadSheets();
        settings = AttachSettings(*form);
    }
    void TearDown() override
    {
        settings.reset();
        if (form) form->close();
    }
    // Opens the dialog from the window's command; `work` fills the controls and presses a button.
    int Show(const std::function<void(TSettingForm&)>& work)
    {
        int result = 0;
        dialogs.onExec = [&](QDialog& d) {
            auto& f = dynamic_cast<TSettingForm&>(d);
            work(f);
            return f.result();
        };
        form->Action("OptSettingAct")->trigger();
        result = settings->SettingForm()->result();
        dialogs.onExec = nullptr;
        return result;
    }
    std::string Ini() const { return ReadFileBytes(dir.file("pek.ini")); }

    TempDir dir;
    PtyPair pty;
    AnswerDialogs dialogs;
    ScopedDialogService scope{dialogs};
    std::unique_ptr<TPekForm> form;
    std::unique_ptr<TSettings> settings;
};

const char* const kPortSheet = "ComPortOpen=1\r\nComPortNo=1\r\nComFlowCtrl=5\r\nComBitRate=19200\r\n";

TEST_F(SettingsTest, OkAppliesToPortAndPanesAndPersists)
{
    Start(kPortSheet);
    ASSERT_TRUE(form->SheetPort(0)->IsOpen());
    const auto port = form->SheetPortShared(0);
    Show([](TSettingForm& f) {
        EXPECT_EQ(f.TmCBox->currentIndex(), 1);
        EXPECT_EQ(f.BitRateCbx->currentText(), "19200");
        EXPECT_EQ(f.FlowCtrlCbx->currentIndex(), 5);
        // A font this machine lacks is still the one selected.
        EXPECT_EQ(f.FontCBox->currentText(), "Terminal");
        f.BitRateCbx->setCurrentIndex(f.BitRateCbx->findText("9600"));
        f.CrTypCBox->setCurrentIndex(2);
        f.TimeRB[2]->setChecked(true);
        f.BufLenRecSed->setValue(65536);
        f.DelayTransSed->setValue(INT_MAX);
        f.EchoChkBox->setChecked(false);
        f.ColorRows[0].on->setChecked(false);
        f.WrapByteSEdit->setValue(100);
        f.CommentEd->setText("#");
        f.Blocks[0].start->setText("<");
        f.Blocks[0].end->setText(">");
        f.Blocks[0].color->SetColor(0x0000FF);
        f.OkBtn->click();
    });
    EXPECT_EQ(form->SheetPortShared(0), port) << "the same port object is set up anew";
    EXPECT_TRUE(port->IsOpen());
    EXPECT_EQ(port->BitRate(), 9600);
    EXPECT_EQ(port->CrTypTrans(), ctCrLf);
    EXPECT_EQ(port->TimeTyp(), 2);
    EXPECT_EQ(port->BufLenReceive(), 65536) << "spin boxes take the engine's range";
    EXPECT_EQ(port->DelayTrans(), 10000);
    EXPECT_FALSE(form->Echo());
    for (TEditorEx* pane : {&form->Template(), form->SheetPane(0)}) {
        EXPECT_EQ(pane->View().Colors.Reserve.Color, clNone);
        EXPECT_EQ(pane->WrapByte(), 100);
        EXPECT_TRUE(pane->WordWrap());
        EXPECT_EQ(pane->Font().Name, "Terminal");
    }
    EXPECT_EQ(form->SheetPane(0)->Commenter(), "#");
    ASSERT_EQ(form->SheetPane(0)->BracketCount(), 1);
    EXPECT_EQ(form->SheetPane(0)->Bracket(0).Color, 0x0000FFu);
    const std::string ini = Ini();
    for (const char* line : {"ComBitRate=9600", "ComCrTypTrans=2", "ComTimeTyp=2", "EditorAll_c=", "ReadOnly=", "Cmt=#"})
        EXPECT_NE(ini.find(line), std::string::npos) << line;

    Show([](TSettingForm& f) {
        EXPECT_FALSE(f.ColorRows[0].on->isChecked());
        EXPECT_EQ(f.ColorRows[0].color->Color(), clWhite);
        EXPECT_FALSE(f.EchoChkBox->isChecked());
        // LF and the fast rates of USB adapters are offered and kept.
        f.CrTypCBox->setCurrentIndex(3);
        EXPECT_EQ(f.CrTypCBox->currentText(), "LF");
        ASSERT_GE(f.BitRateCbx->findText("3000000"), 0);
        f.BitRateCbx->setCurrentIndex(f.BitRateCbx->findText("921600"));
        f.OkBtn->click();
    });
    EXPECT_EQ(port->CrTypTrans(), ctLf);
    EXPECT_EQ(port->BitRate(), 921600);
    Show([](TSettingForm& f) {
        EXPECT_EQ(f.CrTypCBox->currentIndex(), 3);
        f.CancelBtn->click();
    });
}

TEST_F(SettingsTest, PaneLineLimitComesFromTheSheetAndTheCommonPageChangesEveryPane)
{
    Start(std::string(kPortSheet) + "MaxLines=5\r\n[No1]\r\nComPortOpen=0\r\n");
    TEditorEx& pane = *form->SheetPane(0);
    EXPECT_EQ(pane.Model().Lines().MaxLines(), 5);
    EXPECT_EQ(form->SheetPane(1)->Model().Lines().MaxLines(), 1'000'000) << "a section without the key";
    for (int i = 0; i < 8; ++i) pane.Model().AppendText("line" + std::to_string(i) + "\r\n");
    EXPECT_LE(pane.Model().Lines().LineCount(), 5);
    EXPECT_EQ(pane.Model().Lines().GetLine(pane.Model().Lines().LineCount() - 2), "line7");
    Show([](TSettingForm& f) {
        EXPECT_EQ(f.MaxLinesSEdit->value(), 5);
        f.MaxLinesSEdit->setValue(0);
        f.OkBtn->click();
    });
    for (TEditorEx* p : {&form->Template(), form->SheetPane(0), form->SheetPane(1)}) EXPECT_EQ(p->Model().Lines().MaxLines(), 0);
    EXPECT_NE(Ini().find("MaxLines=0"), std::string::npos);
}

TEST_F(SettingsTest, RefusedValueChangesNothing)
{
    Start(kPortSheet);
    const auto port = form->SheetPortShared(0);
    const std::string before = Ini();
    for (const char* rate : {"", "abc", "5"}) {
        dialogs.messages.clear();
        const int result = Show([&](TSettingForm& f) {
            f.PortNoSed->setValue(2048);
            f.BitRateCbx->setEditText(rate);
            f.WrapByteSEdit->setValue(50);
            f.OkBtn->click();
            EXPECT_EQ(f.result(), 0) << "the dialog stays open";
            f.CancelBtn->click();
        });
        EXPECT_NE(result, QDialog::Accepted) << rate;
        EXPECT_EQ(dialogs.messages.size(), 1u) << rate;
        EXPECT_TRUE(port->IsOpen()) << rate;
        EXPECT_EQ(port->PortNo(), 1) << rate;
        EXPECT_EQ(port->BitRate(), 19200) << rate;
        EXPECT_EQ(form->SheetPane(0)->WrapByte(), 80) << rate;
    }
    EXPECT_EQ(Ini(), before);
}

TEST_F(SettingsTest, PortFailsToOpenKeepsDialogOpenAndOptionsUnapplied)
{
    Start(kPortSheet);
    Show([](TSettingForm& f) {
        f.PortNoSed->setValue(77);  // /dev/ttyS76: nothing there
        f.EchoChkBox->setChecked(false);
        f.OkBtn->click();
        EXPECT_EQ(f.result(), 0);
        f.CancelBtn->click();
    });
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_FALSE(form->SheetPort(0)->IsOpen());
    EXPECT_EQ(form->SheetPort(0)->PortNo(), 77);
    EXPECT_TRUE(form->Echo());
}

TEST_F(SettingsTest, SheetWithoutPortGetsOneOnlyWhenAsked)
{
    Start("ComPortOpen=0\r\n");
    ASSERT_EQ(form->SheetPort(0), nullptr);
    Show([](TSettingForm& f) {
        EXPECT_EQ(f.TmCBox->currentIndex(), 0);
        EXPECT_EQ(f.BitRateCbx->currentText(), "19200");
        EXPECT_EQ(f.FlowCtrlCbx->currentIndex(), 5);
        f.OkBtn->click();
    });
    EXPECT_EQ(form->SheetPort(0), nullptr);
    Show([](TSettingForm& f) {
        f.TmCBox->setCurrentIndex(1);
        f.PortNoSed->setValue(1);
        f.OkBtn->click();
    });
    ASSERT_NE(form->SheetPort(0), nullptr);
    EXPECT_TRUE(form->SheetPort(0)->IsOpen());
    EXPECT_NE(Ini().find("ComPortOpen=1"), std::string::npos);
    Show([](TSettingForm& f) {
        f.TmCBox->setCurrentIndex(0);
        f.OkBtn->click();
    });
    EXPECT_EQ(form->SheetPort(0), nullptr);
}

TEST_F(SettingsTest, BlocksRenumberAndBracketsBeyondTheThirdStay)
{
    Start("ComPortOpen=0\r\n");
    TEditorEx& pane = *form->SheetPane(0);
    pane.ClearBrackets();
    for (const char* b : {"a", "b", "c", "d", "e"}) pane.AddBracket(b, b, 1);
    Show([](TSettingForm& f) {
        EXPECT_EQ(f.Blocks[2].start->text(), "c");
        f.Blocks[1].end->clear();  // a start without an end adds no bracket
        f.OkBtn->click();
    });
    std::vector<std::string> left;
    for (int i = 0; i < pane.BracketCount(); ++i) left.push_back(pane.Bracket(i).LeftBracket);
    EXPECT_EQ(left, (std::vector<std::string>{"a", "c", "d", "e"}));
}

TEST_F(SettingsTest, RemovedBracketsStayRemovedInTheFile)
{
    Start("ComPortOpen=0\r\nBlock=<,>,255\r\n");
    ASSERT_EQ(form->SheetPane(0)->BracketCount(), 1);
    Show([](TSettingForm& f) {
        f.Blocks[0].start->clear();
        f.OkBtn->click();
    });
    EXPECT_EQ(form->SheetPane(0)->BracketCount(), 0);
    EXPECT_EQ(ProfileFile(dir.file("pek.ini").string()).ReadString("No0", "Block", "?"), "");
}

TEST_F(SettingsTest, PresetsRoundTripAndCancelRestoresTheSheet)
{
    Start("ComPortOpen=0\r\n");
    TEditorEx& pane = *form->SheetPane(0);
    pane.SetCommenter("//");
    const std::string preset = dir.file("preset.ini").string();
    dialogs.fileAnswers = {QString::fromStdString(preset), QString::fromStdString(preset)};
    Show([](TSettingForm& f) {
        f.CommentEd->setText(";");
        f.Blocks[0].start->setText("[");
        f.Blocks[0].end->setText("]");
        f.ReserveWordMemo->setPlainText("OK\nFAIL");
        f.SaveAsEd2Btn->click();
        f.CommentEd->setText("x");
        f.ReserveWordMemo->setPlainText("other");
        f.LoadEd2Btn->click();
        EXPECT_EQ(f.CommentEd->text(), ";");
        EXPECT_EQ(f.Blocks[0].start->text(), "[");
        EXPECT_EQ(f.ReserveWordMemo->toPlainText(), "FAIL\nOK");
        f.CancelBtn->click();
    });
    ASSERT_EQ(dialogs.fileRequests.size(), 2u);
    EXPECT_TRUE(dialogs.fileRequests[0].filter.contains("(*)"));
    EXPECT_NE(ReadFileBytes(preset).find("Cmt=;"), std::string::npos);
    EXPECT_EQ(pane.Commenter(), "//") << "cancel restores the highlighting the sheet had";
    EXPECT_EQ(pane.BracketCount(), 0);
    EXPECT_EQ(Ini().find("Cmt=;"), std::string::npos);

    dialogs.fileAnswers = {QString::fromStdString(preset)};
    Show([](TSettingForm& f) {
        f.LoadEd2Btn->click();
        f.OkBtn->click();
    });
    EXPECT_EQ(pane.Commenter(), ";");
    EXPECT_EQ(pane.ReserveWordList(), (std::vector<std::string>{"FAIL", "OK"}));
}

TEST_F(SettingsTest, PortPageShowsTheDeviceOfTheNumber)
{
    Start(kPortSheet);
    Show([&](TSettingForm& f) {
        EXPECT_TRUE(f.PortPathLbl->text().startsWith(QString::fromStdString(pty.slavePath())));
        EXPECT_TRUE(f.PortPathLbl->text().contains(QString::fromUtf8("●")));
        bool listed = false;
        for (int i = 0; i < f.PortListCbx->count(); ++i)
            listed |= f.PortListCbx->itemText(i).contains(QString::fromStdString(pty.slavePath()));
        EXPECT_TRUE(listed);
        f.CancelBtn->click();
    });
}

TEST_F(SettingsTest, AnyDeviceTypedOrChosenByItsStableNameIsMappedAndOpened)
{
    PtyPair typed, adapter, replugged;
    namespace fs = std::filesystem;
    const fs::path byId = dir.path() / "root" / "dev" / "serial" / "by-id";
    fs::create_directories(byId);
    const fs::path stable = byId / "usb-FTDI_A-if00-port0";
    fs::create_symlink(adapter.slavePath(), stable);
    Start(kPortSheet);
    settings->SettingForm()->SetDeviceFolders(DeviceFolders::Under((dir.path() / "root").string()));
    const std::string unchanged = Ini();
    Show([&](TSettingForm& f) {
        EXPECT_EQ(f.PortDeviceCbx->currentText().toStdString(), pty.slavePath());
        f.OkBtn->click();
    });
    EXPECT_EQ(Ini().find("COM1=" + pty.slavePath()), unchanged.find("COM1=" + pty.slavePath()));
    EXPECT_EQ(Ini().find("COM4="), std::string::npos);

    // A typed path on another number.
    Show([&](TSettingForm& f) {
        f.PortNoSed->setValue(4);
        f.PortDeviceCbx->setEditText(QString::fromStdString(typed.slavePath()));
        f.OkBtn->click();
    });
    EXPECT_NE(Ini().find("COM4=" + typed.slavePath()), std::string::npos);
    EXPECT_EQ(form->SheetPort(0)->PortNo(), 4);
    form->ExecCommand(0, "T1", false);
    EXPECT_EQ(typed.readExactly(3), "T1\r");

    // A stable name from the list, shown with the tty it points at.
    Show([&](TSettingForm& f) {
        const int index = f.PortDeviceCbx->findData(QString::fromStdString(stable.string()));
        ASSERT_GE(index, 0);
        EXPECT_TRUE(f.PortDeviceCbx->itemText(index).contains(QString::fromStdString(adapter.slavePath())));
        f.PortDeviceCbx->setCurrentIndex(index);
        emit f.PortDeviceCbx->activated(index);
        EXPECT_EQ(f.PortDeviceCbx->currentText().toStdString(), stable.string());
        f.OkBtn->click();
    });
    EXPECT_NE(Ini().find("COM4=" + stable.string()), std::string::npos);
    form->ExecCommand(0, "T2", false);
    EXPECT_EQ(adapter.readExactly(3), "T2\r");
    // The adapter comes back under another tty: the name still reaches it.
    fs::remove(stable);
    fs::create_symlink(replugged.slavePath(), stable);
    form->SheetPort(0)->Close();
    form->SheetPort(0)->Open();
    form->ExecCommand(0, "T3", false);
    EXPECT_EQ(replugged.readExactly(3), "T3\r");

    // Not a path: refused, nothing changes.
    Show([&](TSettingForm& f) {
        f.PortDeviceCbx->setEditText("ttyUSB0");
        f.OkBtn->click();
        EXPECT_EQ(f.result(), 0);
        f.CancelBtn->click();
    });
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(Ini().find("COM4=" + stable.string()), std::string::npos);
}

}  // namespace
}  // namespace pek::test

// The ASCII code sender and the version dialog, served from the window's actions, offscreen.
#include "dialogs/AsciiForm.h"
#include "dialogs/VerForm.h"
#include "dialogs/WindowTools.h"
#include "macro/FakeTerminal.h"
#include "regex/Onig.h"
#include "settings/AnswerDialogs.h"

#include <lua.hpp>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace pek {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

// The fake window with the two actions the tools serve.
class ToolWindow : public test::FakeTerminal {
public:
    ToolWindow() : FakeTerminal(2, 1)
    {
        ascii.setObjectName("RunAsciiCodeAct");
        ver.setObjectName("HelpVerAct");
    }
    QAction* Action(std::string_view name) const override
    {
        if (name == "RunAsciiCodeAct") return const_cast<QAction*>(&ascii);
        if (name == "HelpVerAct") return const_cast<QAction*>(&ver);
        return FakeTerminal::Action(name);
    }
    QAction ascii;
    QAction ver;
};

class WindowToolsTest : public ::testing::Test {
protected:
    std::string ListPath() const { return window.Dir().file("ascii.txt").string(); }
    TAsciiForm& Ascii() { return *tools->AsciiForm(); }
    QStringList Captions()
    {
        QStringList captions;
        for (QToolButton* b : Ascii().QuickBtns) captions << b->text();
        return captions;
    }
    // What the pane and the port's device received since the last call.
    std::pair<std::string, std::string> Sent(std::size_t deviceBytes)
    {
        std::string pane = window.PaneText(0).substr(paneSeen_);
        paneSeen_ += pane.size();
        return {pane, deviceBytes ? window.Device(0).readExactly(deviceBytes) : window.Device(0).readAvailable()};
    }

    ToolWindow window;
    test::AnswerDialogs dialogs;
    ScopedDialogService scope{dialogs};
    std::unique_ptr<TWindowTools> tools = AttachWindowTools(window);

private:
    std::size_t paneSeen_ = 0;
};

TEST_F(WindowToolsTest, FirstShowWritesTheListAndLabelsTheButtons)
{
    ASSERT_TRUE(window.ascii.isEnabled());
    window.ascii.trigger();
    EXPECT_TRUE(Ascii().isVisible());
    EXPECT_EQ(ReadFileBytes(ListPath()), TAsciiCodeList::JoinLines(TAsciiCodeList::BuiltIn()));
    EXPECT_EQ(Ascii().AsciiCbox->count(), 128);
    EXPECT_TRUE(Ascii().ModeCharRBtn->isChecked());
    EXPECT_EQ(Captions().join(' '), "NUL SOH STX ETX EOT ENQ ACK NAK LF CR SP ESC");
    EXPECT_EQ(Ascii().QuickBtns[9]->toolTip(), QString::fromUtf8("復帰"));

    // The CR button notes the code and sends the byte.
    QTest::mouseClick(Ascii().QuickBtns[9], Qt::LeftButton);
    EXPECT_EQ(Sent(1), std::make_pair(std::string("0x0D\r\n"), std::string("\r")));
    // Hovering shows the entry at the button's code; the background empties the panel.
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(Ascii().QuickBtns[9], &enter);
    EXPECT_EQ(Ascii().MsgPnl->text(), QString::fromUtf8("0D, CR, 復帰"));
    QApplication::sendEvent(Ascii().SpeedButton1, &enter);
    EXPECT_EQ(Ascii().MsgPnl->text(), "");

    Ascii().AsciiCbox->setCurrentIndex(0x41);
    QTest::mouseClick(Ascii().SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(Sent(1), std::make_pair(std::string("0x41\r\n"), std::string("A")));

    // Hexadecimal mode is stored and relabels at once; a new window starts in it.
    QTest::mouseClick(Ascii().Mode16RBtn, Qt::LeftButton);
    EXPECT_EQ(Captions().join(' '), "00 01 02 03 04 05 06 15 0A 0D 20 1B");
    EXPECT_EQ(window.Ini().ReadInteger("ASCII", "mode", 1), 0);
    tools.reset();
    tools = AttachWindowTools(window);
    window.ascii.trigger();
    EXPECT_TRUE(Ascii().Mode16RBtn->isChecked());
    EXPECT_EQ(Captions()[0], "00");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(WindowToolsTest, EditedGarbledAndEmptyLists)
{
    // Sheet 1 has no port: the note is shown and nothing is sent.
    WriteFileBytes(ListPath(), Utf8ToCp932("0D, ENTER, 送信\r\n10D, BIG, x\r\n??, Q\r\n\"unclosed, R\r\n"));
    window.active = 1;
    window.ascii.trigger();
    EXPECT_EQ(Ascii().QuickBtns[9]->text(), "ENTER");
    EXPECT_EQ(Ascii().QuickBtns[9]->toolTip(), QString::fromUtf8("送信"));
    EXPECT_EQ(Ascii().QuickBtns[0]->text(), "Q");  // unreadable code counts as NUL
    QTest::mouseClick(Ascii().QuickBtns[9], Qt::LeftButton);
    EXPECT_EQ(window.PaneText(1), "0x0D\r\n");
    window.active = 0;

    // A code above a byte sends nothing, not its low byte.
    Ascii().AsciiCbox->setCurrentIndex(1);
    QTest::mouseClick(Ascii().SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(Sent(0), std::make_pair(std::string(), std::string()));

    // An empty list: nothing selected, nothing sent, no hover text.
    Ascii().hide();
    WriteFileBytes(ListPath(), "");
    window.ascii.trigger();
    EXPECT_EQ(Ascii().AsciiCbox->count(), 0);
    QTest::mouseClick(Ascii().SpeedButton1, Qt::LeftButton);
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(Ascii().QuickBtns[0], &enter);
    EXPECT_EQ(Ascii().MsgPnl->text(), "");
    EXPECT_EQ(Sent(0), std::make_pair(std::string(), std::string()));
    EXPECT_TRUE(dialogs.messages.empty());
}

// Records the version dialog's texts each time it is shown, and closes it with OK.
std::function<int(QDialog&)> RecordVersionTexts(std::vector<QStringList>& shown)
{
    return [&shown](QDialog& dialog) {
        auto& form = static_cast<TVerForm&>(dialog);
        shown.push_back({form.windowTitle(), form.VerLb->text(), form.LuaLb->text(), form.LuaAddInfoLb->text(),
                         form.OnigLb->text()});
        QTest::mouseClick(form.OkBtn, Qt::LeftButton);
        return form.result();
    };
}

TEST_F(WindowToolsTest, VersionDialogShowsTheLibrariesTexts)
{
    ASSERT_TRUE(window.ver.isEnabled());
    std::vector<QStringList> shown;
    dialogs.onExec = RecordVersionTexts(shown);
    window.ver.trigger();
    window.ver.trigger();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], shown[1]);
    EXPECT_EQ(shown[0][0], QString::fromUtf8("バージョン情報"));
    EXPECT_EQ(shown[0][1], "Ver0.22");
    EXPECT_EQ(shown[0][2], LUA_COPYRIGHT);
    EXPECT_EQ(shown[0][3], LUA_AUTHORS);
    const onig::Library library;
    if (library.ok()) {
        EXPECT_EQ(shown[0][4], onig::api().onig_copyright());
    }
}

TEST(VerForm, OpensWithoutTheRegexLibrary)
{
    // No pane holds the library here, so the dialog's own load decides.
    ASSERT_FALSE(onig::Loaded());
    test::AnswerDialogs dialogs;
    const ScopedDialogService scope(dialogs);
    std::vector<QStringList> shown;
    dialogs.onExec = RecordVersionTexts(shown);
    QWidget main;
    TVerForm form(&main);
    form.SetOnigFiles({"libonig-not-installed.so.0"});
    EXPECT_EQ(form.ShowModal(), 1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0][4], "");
    EXPECT_EQ(shown[0][2], LUA_COPYRIGHT);
    EXPECT_FALSE(onig::Loaded());
}

}  // namespace
}  // namespace pek

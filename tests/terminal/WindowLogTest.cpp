#include "WindowFixture.h"

#include <QCheckBox>

#include <regex>

using namespace pek;
using namespace pek::test;

class LogTest : public WindowTest {
protected:
    // Runs the log command, ticking the option boxes as given, and saves to log.log.
    void OpenLog(bool rcv, bool trs, bool msg, bool bin)
    {
        dialogs.fileAnswers.push_back(QString::fromStdString(logPath()));
        dialogs.onFileDialog = [=, this](const FileDialogRequest& request) {
            EXPECT_EQ(request.extraPanel, form->LogOptPnl);
            form->RcvCBox->setChecked(rcv);
            form->TrsCBox->setChecked(trs);
            form->MsgCBox->setChecked(msg);
            form->BinCBox->setChecked(bin);
        };
        form->FileLogActExecute();
        ASSERT_TRUE(form->SheetPort(0)->LogOpened());
    }
    std::string logPath() const { return dir.file("log.log").string(); }
    std::string Log() const { return ReadFileBytes(logPath()); }
};

TEST_F(LogTest, DialogProposesTheDatedNameAndTheOptionsStartAsDesigned)
{
    PortSettings();
    Start();
    EXPECT_TRUE(form->RcvCBox->isChecked());
    EXPECT_TRUE(form->TrsCBox->isChecked());
    EXPECT_TRUE(form->MsgCBox->isChecked());
    EXPECT_FALSE(form->BinCBox->isChecked());
    EXPECT_EQ(form->LogButtonImage(), 24);
    form->FileLogActExecute();  // cancelled
    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    EXPECT_TRUE(std::regex_match(dialogs.fileRequests[0].fileName.toStdString(), std::regex("Pek\\d{8}_\\d{4}\\.log")));
    EXPECT_EQ(dialogs.fileRequests[0].caption.toStdString(), "ログ");
    EXPECT_FALSE(form->SheetPort(0)->LogOpened());
    EXPECT_EQ(form->LogButtonImage(), 24);
}

TEST_F(LogTest, TextModeHoldsWhatThePaneShowsWithStamps)
{
    PortSettings("ComTimeTyp=1\r\n");
    Start();
    OpenLog(true, true, true, false);
    EXPECT_EQ(form->LogButtonImage(), 25);
    Receive("hello\r\nworld\r\n");
    Type("ATZ");
    form->CommX1Error(*form->SheetPort(0), 8);
    form->FileLogActExecute();  // closes
    EXPECT_EQ(form->LogButtonImage(), 24);
    EXPECT_FALSE(form->SheetPort(0)->LogOpened());
    EXPECT_EQ(Log(), PaneText());
    EXPECT_TRUE(std::regex_match(Log(), std::regex("(\\d+\\| [^\r]+\r\n){4}"))) << Log();
}

TEST_F(LogTest, TheLogCommandDoesNothingOnASheetWithoutAPort)
{
    PortSettings();
    Start();
    form->FileCloseComActExecute();
    form->FileLogActExecute();
    EXPECT_TRUE(dialogs.fileRequests.empty());
}

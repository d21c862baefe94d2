// The debugger on the real window: "!" from another program answered when its debugged run has
// ended while a second "!" meanwhile runs as a thread run, and closing the window during a
// debugged run stops the run first.
#include "debugger/DebuggerHost.h"
#include "debugger/MacroFrm.h"
#include "macro/MacroCore.h"
#include "macro/MacroHost.h"
#include "macro/StopMacro_u.h"
#include "terminal/WindowFixture.h"

#include <QTimer>

#include <future>

namespace pek::test {
namespace {

using namespace std::chrono_literals;

class DebuggerOnWindow : public WindowTest {
protected:
    void Attach()
    {
        PortSettings();
        Start();
        host = AttachMacroHost(*form);
        debugger = AttachDebugger(*form, *host);
        WriteFileBytes(endless, "io.write('A started')\nwhile true do Wait(10) end\n");
    }
    void TearDown() override
    {
        debugger.reset();
        host.reset();
        WindowTest::TearDown();
    }
    std::unique_ptr<TMacroHost> host;
    std::unique_ptr<TDebuggerHost> debugger;
    const std::string endless = dir.file("a.lua").string();
};

template <typename T>
bool Ready(const std::future<T>& f)
{
    return f.valid() && f.wait_for(0ms) == std::future_status::ready;
}

TEST_F(DebuggerOnWindow, BangFromAnotherProgramIsAnsweredWhenTheRunEnds)
{
    Attach();
    const std::string other = dir.file("b.lua").string();
    WriteFileBytes(other, "io.write('B ran')\n");
    const std::string socket = form->CopyData()->SocketPath();
    auto first = std::async(std::launch::async, [&] { return SendCopyData(socket, 0, "!" + endless); });
    std::future<std::optional<bool>> second;
    bool firstWaitedForTheRun = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!second.valid()) {
            if (debugger->Form().IsRunning())
                second = std::async(std::launch::async, [&] { return SendCopyData(socket, 0, "!" + other); });
            return;
        }
        if (!Ready(second) || PaneText().find("B ran") == std::string::npos) return;
        poll.stop();
        firstWaitedForTheRun = !Ready(first) && debugger->Form().IsRunning();
        debugger->Form().Stop();
    });
    poll.start(5);
    ASSERT_TRUE(WaitUntil([&] { return Ready(first); }, 20000));
    EXPECT_TRUE(firstWaitedForTheRun);
    EXPECT_EQ(first.get(), std::optional<bool>(true));
    ASSERT_TRUE(second.valid());
    EXPECT_EQ(second.get(), std::optional<bool>(true));
    EXPECT_NE(PaneText().find("A started"), std::string::npos);
    EXPECT_TRUE(host->WaitIdle(5000));
    EXPECT_TRUE(host->RunningMacros().empty());
}

TEST_F(DebuggerOnWindow, ClosingTheWindowStopsTheRunFirst)
{
    Attach();
    bool keptOpen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!debugger->Form().IsRunning()) return;
        poll.stop();
        form->close();
        keptOpen = form->isVisible();
    });
    poll.start(5);
    form->show();
    form->ExecCommand(0, "!" + endless, true);  // returns when the run has ended
    EXPECT_TRUE(keptOpen);
    EXPECT_FALSE(debugger->Form().IsRunning());
    const auto& messages = debugger->Form().View().Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(messages.back().ends_with("(0): STOP")) << messages.back();
    EXPECT_TRUE(WaitUntil([&] { return !form->isVisible(); }));
}

TEST_F(DebuggerOnWindow, TheWindowKeepsItsPlaceInTheSettings)
{
    Attach();
    TfrmMacro& debugger = this->debugger->Form();
    form->Ini().WriteInteger("Debugger", "Left", 30);
    form->Ini().WriteInteger("Debugger", "Top", 40);
    form->Ini().WriteInteger("Debugger", "Width", 800);
    form->Ini().WriteInteger("Debugger", "Height", 620);
    debugger.View().SetDisplayOn(true);
    debugger.show();
    EXPECT_EQ(debugger.geometry(), QRect(30, 40, 800, 620));
    EXPECT_FALSE(debugger.View().DisplayOn());  // showing switches the execution display off
    debugger.setGeometry(60, 70, 820, 640);
    debugger.close();
    EXPECT_FALSE(debugger.isVisible());
    EXPECT_EQ(form->Ini().ReadInteger("Debugger", "Left", 0), 60);
    EXPECT_EQ(form->Ini().ReadInteger("Debugger", "Height", 0), 640);
}

TEST_F(DebuggerOnWindow, AShadowWindowShowsTheDebuggerAndTheStopWindow)
{
    Attach();
    TPekForm* shadow = form->ViewOtherWinActExecute();
    ASSERT_NE(shadow, nullptr);
    for (const char* name : {"ViewDebugger", "ViewStopMcrAct"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(shadow->Action(name)->isEnabled());
        shadow->Action(name)->trigger();
    }
    EXPECT_TRUE(debugger->Form().isVisible());
    EXPECT_TRUE(host->StopMacroForm().isVisible());
}

}  // namespace
}  // namespace pek::test

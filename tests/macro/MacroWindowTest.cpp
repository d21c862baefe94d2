// The macro host on the real main window: commands run macros, output reaches the pane, the
// stop-macro window's action is served, and closing the window stops every run.
#include "FakeTerminal.h"
#include "macro/MacroCore.h"
#include "macro/MacroHost.h"
#include "terminal/main_u.h"

#include <gtest/gtest.h>

namespace pek::test {
namespace {

TEST(MacroOnTheWindow, CommandsRunMacrosAndClosingStopsThem)
{
    TempDir dir;
    PtyPair device;
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    const std::string ini = dir.file("pek.ini").string();
    WriteFileBytes(ini, "[Ports]\r\nCOM1=" + device.slavePath() +
                            "\r\n[No0]\r\nComPortOpen=1\r\nComPortNo=1\r\nComFlowCtrl=5\r\n");
    RecordingDialogs dialogs;
    ScopedDialogService scope(dialogs);
    TPekForm form(ini);
    form.LoadSheets();
    auto host = AttachMacroHost(form);
    EXPECT_TRUE(form.Action("ViewStopMcrAct")->isEnabled());

    const std::string script = dir.file("s.lua").string();
    WriteFileBytes(script, "io.write('from script') Trans('AT')");
    form.ExecCommand(0, "!!" + script, true);
    ASSERT_TRUE(host->WaitIdle(10000));
    EXPECT_NE(form.SheetPane(0)->Text().find("from script"), std::string::npos);
    EXPECT_EQ(device.readExactly(3), "AT\r");
    EXPECT_TRUE(dialogs.boxes.empty());

    const std::string waiting = dir.file("w.lua").string();
    WriteFileBytes(waiting, "Wait(100000)");
    form.ExecCommand(0, "!" + waiting, true);  // a thread run until the debugger exists
    ASSERT_EQ(host->RunningMacros().size(), 1u);
    form.close();
    EXPECT_TRUE(host->RunningMacros().empty());
    EXPECT_TRUE(host->WaitIdle(0));
}

}  // namespace
}  // namespace pek::test

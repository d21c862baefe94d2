// The view-model without a window or a run: watch rows, the call history's newest end, and the
// notifications the window draws from.
#include "debugger/DebuggerViewModel.h"

#include <gtest/gtest.h>

namespace pek {
namespace {

class IdleView : public TDebugView {
public:
    void ActionsChanged() override {}
    std::string TargetFileName() override { return {}; }
    std::string TargetText() override { return {}; }
    void RunStarting(bool) override {}
    void CurrentLineLeft() override {}
    void RunEnded() override {}
    void ShowPosition(const std::string&, int, lua_State*) override {}
    void RefreshAfterRun(lua_State*) override {}
    void ShowWindow() override {}
    void ShowError(const std::string&, int, const std::string&) override {}
    void AppendMessage(const std::string&) override {}
    void CallEntered(const std::string&) override {}
    void CallsDropped(int) override {}
    std::string LineText(const std::string&, int) override { return {}; }
    bool DisplayOn() override { return false; }
    void ServeEvents(bool) override {}
};

TEST(DebuggerViewModel, WatchesCallsAndOutput)
{
    IdleView idle;
    TDebugEngine engine(idle);
    TDebuggerViewModel view(engine);
    std::vector<TDebuggerViewModel::Part> changed;
    std::string appended;
    view.OnChanged = [&](TDebuggerViewModel::Part part) { changed.push_back(part); };
    view.OnAppended = [&](TDebuggerViewModel::Part, const std::string& text) { appended += text; };

    // An eleventh watch adds a row; a cleared row is the first one a new watch takes.
    for (int i = 0; i < 11; ++i) view.AddWatch("w" + std::to_string(i));
    ASSERT_EQ(view.Watches().size(), 11u);
    EXPECT_EQ(view.Watches()[10].Name, "w10");
    view.SetWatchName(3, "");
    view.AddWatch("again");
    EXPECT_EQ(view.Watches()[3].Name, "again");
    EXPECT_EQ(view.Watches().size(), 11u);
    EXPECT_EQ(view.EvalName("w0"), "");  // no run, no value

    // Newest first, trimmed; dropping takes the newest.
    view.CallEntered("  f(1)\r\n");
    view.CallEntered("\tg(2)");
    view.CallEntered("h(3)");
    view.CallsDropped(2);
    view.CallEntered("k(4)");
    EXPECT_EQ(std::vector<std::string>(view.Calls().begin(), view.Calls().end()), (std::vector<std::string>{"k(4)", "f(1)"}));
    view.CallsDropped(5);
    EXPECT_TRUE(view.Calls().empty());

    view.AppendConsole("a\r\n");
    view.AppendMessage("m");
    EXPECT_EQ(appended, "a\r\nm");
    changed.clear();
    view.SetDisplayOn(true);
    view.SetDisplayOn(true);
    view.RunStarting();
    EXPECT_TRUE(view.DisplayOn());
    EXPECT_TRUE(view.Console().empty() && view.Messages().empty());
    using Part = TDebuggerViewModel::Part;
    EXPECT_EQ(changed, (std::vector<Part>{Part::Display, Part::Console, Part::Messages, Part::Calls}));
}

}  // namespace
}  // namespace pek

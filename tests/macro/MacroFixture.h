#pragma once
#include "FakeTerminal.h"
#include "macro/MacroCore.h"
#include "macro/MacroHost.h"

#include <gtest/gtest.h>

namespace pek::test {

// A fake window with a port on sheet 0 (sheets 1 and 2 have none) and the macro host attached.
class MacroTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_TRUE(host->StopAll(5000));
        host.reset();
    }
    // Writes the script (UTF-8 source; Japanese literals become CP932) and returns its path.
    std::string Script(const std::string& name, const std::string& utf8Text)
    {
        const std::string path = window.Dir().file(name).string();
        WriteFileBytes(path, Utf8ToCp932(utf8Text));
        return path;
    }
    std::uint64_t Start(const std::string& utf8Text, int sheet = 0, const std::string& name = "m.lua")
    {
        return host->Run(sheet, Script(name, utf8Text));
    }
    bool Finish() { return host->WaitIdle(20000); }
    bool Shows(const std::string& text, int sheet = 0)
    {
        return WaitUntil([&] { return window.PaneText(sheet).find(text) != std::string::npos; });
    }

    FakeTerminal window{3, 1};
    RecordingDialogs dialogs;
    ScopedDialogService dialogScope{dialogs};
    std::unique_ptr<TMacroHost> host = AttachMacroHost(window);
};

}  // namespace pek::test

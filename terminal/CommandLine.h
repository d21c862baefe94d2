#pragma once
// The command processor behind the command line, the script function Trans and command strings
// from other programs: echo, history, "!" macros, or the text sent with the sheet's line ending.
#include "terminal/CommandHistory.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace pek {

class TCommXEx;

// dwData of a command string from another program.
enum class CopyDataAction : std::uint32_t {
    RunCommand = 0,  // as if typed and Enter pressed
    LoadFile = 2,    // into the active pane (a regular file only)
    SaveFile = 3,    // the active pane's text
    Clear = 4,       // the active pane and its port's ring buffer
    SelectTab = 5,   // the tab index in decimal, from 0
};

// What the processor needs of its window.
struct CommandWindow {
    std::function<std::shared_ptr<TCommXEx>(int sheet)> port;
    std::function<void(int sheet, std::string_view text, bool log)> showText;
    // A message box (UTF-8 text and caption, MB_* flags).
    std::function<void(const std::string& text, const std::string& caption, unsigned flags)> message;
    std::function<bool(const std::string& cp932FileName)> fileExists;
    // The history changed by a command the user entered.
    std::function<void(const CommandHistory& history)> historyChanged;
    std::function<void(TCommXEx& port, std::string_view text)> writeLog;
    // Starts a macro ("!!" forces a thread run); false when no macro engine is attached.
    std::function<bool(int sheet, const std::string& fileName, bool forceThreadRun)> runMacro;
};

// The example macros shipped with the program: share/pek/examples beside the program's bin folder,
// where both an installed program and a build tree have them.
std::filesystem::path ExampleMacroFolder(const std::filesystem::path& programFolder);

// A plain file name (no folder) found in ExampleMacroFolder: its CP932 path; else empty.
std::string FindExampleMacro(const std::string& cp932FileName, const std::filesystem::path& programFolder);

class CommandProcessor {
public:
    explicit CommandProcessor(CommandWindow window);
    ~CommandProcessor();

    bool Echo() const { return echo_; }
    void SetEcho(bool on) { echo_ = on; }
    CommandHistory& History() { return history_; }
    const CommandHistory& History() const { return history_; }

    // Sending may serve events while it waits for room; the processor may be destroyed meanwhile,
    // which this call survives.
    void ExecCommand(int sheet, std::string text, bool fromUser);
    // The command line's hex mode: text is bytes in hexadecimal, sent as they are without a line
    // ending. A text that is not hex is refused with a message and sends nothing. Returns whether sent.
    bool ExecHexCommand(int sheet, const std::string& text, bool fromUser);

private:
    CommandWindow window_;
    CommandHistory history_;
    bool echo_ = true;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace pek

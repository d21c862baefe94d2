#pragma once
// The window interface without a window: one sheet whose pane is standard output, for running
// macros from a shell, a test bench or CI. Every call is made on the main thread, as in the window.
#include "platform/Profile.h"
#include "terminal/CommandLine.h"
#include "terminal/ReceiveText.h"
#include "terminal/TerminalHost.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace pek {

class HeadlessHost final : public TerminalHost {
public:
    // port may be null (a run without a device); out takes what the pane would show.
    HeadlessHost(std::shared_ptr<TCommXEx> port, std::string settingsPath, std::FILE* out, std::FILE* err);
    ~HeadlessHost() override;

    // A message the window would show in a box goes to the error stream (UTF-8 text).
    void Message(const std::string& text, const std::string& caption) const;
    // Writes to the port's log; a failing log is closed and reported once, never thrown.
    void WriteLog(TCommXEx& port, std::string_view text) const;
    // Text as the pane would hold it, stamped at line starts with the port's time-stamp type.
    void LogText(TCommXEx& port, std::string_view text);
    // Closes the log, then the port.
    void ClosePort();
    // Whether what is sent shows on the output too; the log has it either way, as in a window
    // that echoes.
    void SetEcho(bool on) { echo_ = on; }

    int ActiveSheet() const override { return 0; }
    int SheetCount() const override { return 1; }
    TEditorEx* SheetPane(int) const override { return nullptr; }
    TCommXEx* SheetPort(int sheet) const override { return sheet == 0 ? port_.get() : nullptr; }
    std::shared_ptr<TCommXEx> SheetPortShared(int sheet) const override { return sheet == 0 ? port_ : nullptr; }
    std::string SheetFile(int sheet) const override;
    void LogStateChanged() override {}
    void ShowText(int sheet, std::string_view text, bool log) override;
    void ExecCommand(int sheet, std::string text, bool fromUser) override;
    ProfileFile& Ini() override { return ini_; }
    QAction* Action(std::string_view) const override { return nullptr; }
    QWidget* DialogParent() override { return nullptr; }
    void SetMacroRunner(MacroRunner runner) override { runner_ = std::move(runner); }
    void OnActiveSheetChanged(std::function<void(int)>) override {}
    void OnCommandDone(std::function<void()>) override {}
    void OnClosing(std::function<void()>) override {}
    void OnCloseRequest(std::function<bool()>) override {}
    void OnWindowOpened(std::function<void(TerminalHost&)>) override {}
    TEditorEx* TemplatePane() const override { return nullptr; }
    Options WindowOptions() const override { return options_; }
    void SetWindowOptions(const Options& options) override { options_ = options; }
    std::shared_ptr<TCommXEx> AddSheetPort(int sheet) override;
    void RemoveSheetPort(int sheet) override;
    void PortSettingsChanged(int) override {}
    void SaveSheetSettings(int sheet) override;
    void RunCommandLine(const std::string& text) override { ExecCommand(0, text, true); }

private:
    void ShowEcho(int sheet, std::string_view text, bool log);

    std::shared_ptr<TCommXEx> port_;
    ProfileFile ini_;
    std::FILE* out_;
    std::FILE* err_;
    CommandProcessor commands_;
    MacroRunner runner_;
    Options options_;
    bool echo_ = false;
    LineStamper stamps_;  // one stream, as one pane: received and shown text share the line starts
};

// The receive handler: the port object has already put what arrived into the ring buffer and a binary
// log; this takes it off the read-ahead queue in pieces of at most 255 bytes into a text log, stamped.
void StoreReceived(HeadlessHost& host, TCommXEx& port, std::int32_t receiveSize);

}  // namespace pek

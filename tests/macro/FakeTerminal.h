#pragma once
// A small stand-in for the main window: real panes and real port objects on pseudo-terminals,
// the command processor reduced to "!"/"!!" and sending, and a dialog service that answers.
#include "editor/EditorEx.h"
#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "platform/Profile.h"
#include "serial/CommXEx.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"
#include "terminal/TerminalHost.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pek::test {

struct ShownBox {
    std::string text, caption;  // CP932
};

class RecordingDialogs : public DialogService {
public:
    std::vector<ShownBox> boxes;
    int MessageBox(QWidget*, const QString& text, const QString& caption, unsigned) override
    {
        boxes.push_back({QStringToCp932(text), QStringToCp932(caption)});
        return IDOK;
    }
    std::optional<QString> OpenFileName(QWidget*, const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> SaveFileName(QWidget*, const FileDialogRequest&) override { return std::nullopt; }
    int Exec(QDialog&) override { return 0; }
};

inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return true;
}

class FakeTerminal : public TerminalHost {
public:
    struct Sheet {
        std::unique_ptr<TEditorEx> pane;
        std::unique_ptr<PtyPair> device;  // the other end of the port
        std::shared_ptr<TCommXEx> port;
        std::string fileName = Sjis("(無題)");
    };
    struct Command {
        int sheet;
        std::string text;
        bool fromUser;
    };

    // Sheets 0 .. sheets-1; the first `ports` of them have a port open on a pseudo-terminal.
    FakeTerminal(int sheets, int ports) : ini_(dir_.file("pek.ini").string()), action_(Ui("マクロ停止窓表示"))
    {
        action_.setObjectName("ViewStopMcrAct");
        action_.setEnabled(false);
        for (int i = 0; i < sheets; ++i) {
            Sheet sheet;
            sheet.pane = std::make_unique<TEditorEx>();
            if (i < ports) {
                sheet.device = std::make_unique<PtyPair>();
                sheet.port = std::make_shared<TCommXEx>();
                const std::string path = sheet.device->slavePath();
                sheet.port->SetPortResolver([path](int) { return path; });
                sheet.port->SetPortNo(i + 1);
                sheet.port->SetFlowCtrl(cfcNone);
                TCommXEx* port = sheet.port.get();
                // Read in chunks of at most 255 bytes, as the receive display does (the port
                // object has put them into its ring buffer already).
                port->OnReceive = [port](TCustomCommX&, std::int32_t size) {
                    for (std::int32_t left = size; left > 0;) {
                        char buffer[255];
                        const std::int32_t n = port->Read(buffer, std::min<std::int32_t>(left, 255));
                        if (n <= 0) break;
                        left -= n;
                    }
                };
                port->Open();
            }
            sheets_.push_back(std::move(sheet));
        }
    }
    ~FakeTerminal() override
    {
        for (auto& s : sheets_)
            if (s.port) s.port->Close();
    }

    int ActiveSheet() const override { return active; }
    int SheetCount() const override { return int(sheets_.size()); }
    TEditorEx* SheetPane(int sheet) const override { return Valid(sheet) ? sheets_[sheet].pane.get() : nullptr; }
    TCommXEx* SheetPort(int sheet) const override { return Valid(sheet) ? sheets_[sheet].port.get() : nullptr; }
    std::shared_ptr<TCommXEx> SheetPortShared(int sheet) const override { return Valid(sheet) ? sheets_[sheet].port : nullptr; }
    std::string SheetFile(int sheet) const override { return Valid(sheet) ? sheets_[sheet].fileName : std::string(); }
    void SetSheetFile(int sheet, std::string name) { sheets_[sheet].fileName = std::move(name); }
    void LogStateChanged() override { ++logStateChanges; }
    void ShowText(int sheet, std::string_view text, bool log) override
    {
        if (!Valid(sheet)) return;
        sheets_[sheet].pane->AppendText(text);
        TCommXEx* port = sheets_[sheet].port.get();
        if (log && port != nullptr && port->LogOpened()) port->LogWrite(text);
    }
    void ExecCommand(int sheet, std::string text, bool fromUser) override
    {
        commands.push_back({sheet, text, fromUser});
        if (text.rfind("!", 0) == 0 && runner_) {
            const bool thread = text.rfind("!!", 0) == 0;
            runner_(sheet, text.substr(thread ? 2 : 1), thread);
        } else if (TCommXEx* port = SheetPort(sheet)) {
            port->SendLine(text);
        }
        for (auto& h : commandDone_) h();
    }
    ProfileFile& Ini() override { return ini_; }
    QAction* Action(std::string_view name) const override
    {
        return name == "ViewStopMcrAct" ? const_cast<QAction*>(&action_) : nullptr;
    }
    QWidget* DialogParent() override { return &parent_; }
    void SetMacroRunner(MacroRunner runner) override { runner_ = std::move(runner); }
    void OnActiveSheetChanged(std::function<void(int)> handler) override { sheetChanged_.push_back(std::move(handler)); }
    void OnCommandDone(std::function<void()> handler) override { commandDone_.push_back(std::move(handler)); }
    void OnClosing(std::function<void()> handler) override { closing_.push_back(std::move(handler)); }
    void OnCloseRequest(std::function<bool()>) override {}
    void OnWindowOpened(std::function<void(TerminalHost&)>) override {}
    TEditorEx* TemplatePane() const override { return const_cast<TEditorEx*>(&template_); }
    Options WindowOptions() const override { return options; }
    void SetWindowOptions(const Options& o) override { options = o; }
    std::shared_ptr<TCommXEx> AddSheetPort(int sheet) override
    {
        if (!Valid(sheet)) return nullptr;
        if (!sheets_[sheet].port) sheets_[sheet].port = std::make_shared<TCommXEx>();
        return sheets_[sheet].port;
    }
    void RemoveSheetPort(int sheet) override
    {
        if (!Valid(sheet) || !sheets_[sheet].port) return;
        sheets_[sheet].port->Close();
        sheets_[sheet].port.reset();
    }
    void PortSettingsChanged(int) override {}
    void SaveSheetSettings(int sheet) override { savedSheets.push_back(sheet); }
    void RunCommandLine(const std::string& text) override { ExecCommand(active, text, true); }

    void Close()
    {
        for (auto& h : closing_) h();
    }
    std::string PaneText(int sheet) const { return sheets_[sheet].pane->Text(); }
    PtyPair& Device(int sheet) { return *sheets_[sheet].device; }
    const TempDir& Dir() const { return dir_; }

    int active = 0;
    int logStateChanges = 0;
    std::vector<Command> commands;
    Options options;
    std::vector<int> savedSheets;

private:
    bool Valid(int sheet) const { return sheet >= 0 && sheet < int(sheets_.size()); }

    TempDir dir_;
    ProfileFile ini_;
    QAction action_;
    QWidget parent_;
    TEditorEx template_;
    std::vector<Sheet> sheets_;
    MacroRunner runner_;
    std::vector<std::function<void(int)>> sheetChanged_;
    std::vector<std::function<void()>> commandDone_;
    std::vector<std::function<void()>> closing_;
};

}  // namespace pek::test

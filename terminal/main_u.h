#pragma once
// The terminal window: builds the widgets and wires the display-free parts together (sheet list,
// sheet settings, receive display, command processor, pane files, port watch). The main window owns
// the ports and the settings file; shadow windows show a sheet a second time and share its text and
// port.
#include "terminal/CommandLine.h"
#include "terminal/ReceiveDisplay.h"
#include "terminal/SheetList.h"
#include "terminal/TerminalHost.h"
#include "terminal/WindowActions.h"

#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QTabWidget;
class QToolButton;

namespace pek {

class CopyDataServer;
class PortWatch;
class WindowGroup;
class ProfileFile;
class TCustomCommX;
class TEditorExProp;
struct FileDialogRequest;

class TPekForm : public QMainWindow, public TerminalHost {
    Q_OBJECT
public:
    // The main window reads and writes the settings file at iniPath.
    explicit TPekForm(std::string iniPath, QWidget* parent = nullptr);
    ~TPekForm() override;

    // Start-up and sheets.
    void LoadSheets();
    void AddSheet(const std::string& fileName);
    bool LoadPortSettings(int sheet);
    void SavePortSettings(int sheet);
    void LoadHighlight(int sheet);
    void SaveHighlight(int sheet);
    void UpdateCaptions();
    void FileOpenComActExecute();
    void FileCloseComActExecute();
    void FileCloseActExecute();
    TPekForm* ViewOtherWinActExecute();
    // Splits the active sheet into an upper pane and the first pane on one text, or unsplits it.
    void ViewSplitActExecute();
    bool SheetSplit(int sheet) const;
    // What arrives on the sheet shown as lines of 16 bytes in hexadecimal; kept with the sheet.
    void SetSheetHexView(int sheet, bool on);
    bool SheetHexView(int sheet) const;
    // The pane commands act on: the focused pane of the active sheet, else its last pane.
    TEditorEx* FocusedPane() const;


    // Receive display.
    void CommX1Receive(TCustomCommX& sender, std::int32_t receiveSize);
    void CommX1Error(TCustomCommX& sender, std::int32_t errorState);
    void ShowText(int sheet, std::string_view text, bool log) override;
    // A message in the active sheet's pane, logged when its port logs messages.
    void ShowMessageOnActiveSheet(std::string_view text);

    // Command line.
    void ExecCommand(int sheet, std::string text, bool fromUser) override;
    void RunRunCmdActExecute();
    bool HandleCopyData(std::uint32_t dwData, const std::string& payload);

    // Logging.
    void FileLogActExecute();
    // The log button's image for the active sheet: 24 closed, 25 open.
    void RefreshLogButton();
    int LogButtonImage() const { return logImage_; }

    // Window commands.
    void FileOpenActExecute();
    void FileLoadActExecute();
    bool FileSaveActExecute();
    bool FileSaveAsActExecute();
    void FileCloseToNewActExecute();
    void EditClearActExecute();

    // TerminalHost.
    int ActiveSheet() const override;
    int SheetCount() const override { return sheets_.Count(); }
    TEditorEx* SheetPane(int sheet) const override;
    TCommXEx* SheetPort(int sheet) const override;
    std::shared_ptr<TCommXEx> SheetPortShared(int sheet) const override;
    std::string SheetFile(int sheet) const override
    {
        const Sheet* s = sheets_.At(sheet);
        return s ? s->fileName : std::string();
    }
    void LogStateChanged() override;
    ProfileFile& Ini() override;
    QAction* Action(std::string_view name) const override { return actions_.Find(name); }
    QWidget* DialogParent() override { return this; }
    void SetMacroRunner(MacroRunner runner) override;
    void OnActiveSheetChanged(std::function<void(int sheet)> handler) override;
    void OnCommandDone(std::function<void()> handler) override;
    void OnClosing(std::function<void()> handler) override;
    void OnCloseRequest(std::function<bool()> handler) override;
    void OnWindowOpened(std::function<void(TerminalHost& window)> handler) override;
    TEditorEx* TemplatePane() const override { return MainEd; }
    Options WindowOptions() const override { return {Echo(), CtrlCode(), autoColOff_}; }
    void SetWindowOptions(const Options& options) override;
    std::shared_ptr<TCommXEx> AddSheetPort(int sheet) override;
    void RemoveSheetPort(int sheet) override;
    void PortSettingsChanged(int sheet) override;
    void SaveSheetSettings(int sheet) override;
    void RunCommandLine(const std::string& text) override;

    void SetActiveSheet(int sheet);
    const std::string& SheetFileName(int sheet) const { return sheets_.At(sheet)->fileName; }
    TEditorEx& Template() const { return *MainEd; }
    bool IsShadow() const { return windowNumber_ != 0; }
    bool Echo() const { return commands_.Echo(); }
    void SetEcho(bool on) { commands_.SetEcho(on); }
    bool CtrlCode() const { return receive_.CtrlCode(); }
    void SetCtrlCode(bool on) { receive_.SetCtrlCode(on); }
    bool PanesReadOnly() const;
    const CommandHistory& History() const { return commands_.History(); }
    const std::string& IniPath() const;
    const CopyDataServer* CopyData() const { return copyData_; }
    std::vector<TPekForm*> ShadowWindows() const;

    // Components named as the window's design names them.
    QTabWidget* PageControl1 = nullptr;
    QWidget* CmdPnl = nullptr;
    QComboBox* InpCmdCbx = nullptr;
    QToolButton* OkBtn = nullptr;
    QToolButton* AsciiCodeBtn = nullptr;
    QToolButton* CallBtn = nullptr;
    QToolButton* LogBtn = nullptr;
    QToolButton* HexBtn = nullptr;
    QWidget* LogOptPnl = nullptr;
    QCheckBox* RcvCBox = nullptr;
    QCheckBox* TrsCBox = nullptr;
    QCheckBox* MsgCBox = nullptr;
    QCheckBox* BinCBox = nullptr;
    QAction* ExtraMenu1 = nullptr;

    QAction* FileLogAct = nullptr;
    QAction* EditReadOnlyAct = nullptr;
    QAction* ViewStayOnTopAct = nullptr;
    QAction* ViewSplitAct = nullptr;
    QAction* RunRunCmdAct = nullptr;
    QAction* RunHexSendAct = nullptr;
    QAction* ViewHexAct = nullptr;
    QAction* RunCallCmdAct = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A shadow window in the group, showing a sheet of source.
    TPekForm(std::shared_ptr<WindowGroup> group, int windowNumber, const Sheet& source);
    // The window's own caption, from its active sheet.
    void RefreshCaption();

    CommandWindow CommandWindowOfThis();
    ReceiveDisplay::FindTarget ReceiveTargets();
    void FormCreate();
    void FormClose();
    void AttachOwnActions();
    void PageControl1Change();
    void AttachPaneHandlers(TEditorEx& pane);
    bool InpCmdCbxKeyDown(QKeyEvent& key);
    void EdKeyDown(int& key, Qt::KeyboardModifiers shift);
    void EdKeyPress(std::string& key);
    void CommX1Disconnect(TCustomCommX& sender);
    void WatchPort(const std::shared_ptr<TCommXEx>& port);
    void ShowHistory();
    void SaveHistory(const CommandHistory& history);
    void WriteLog(TCommXEx& port, std::string_view text);
    void SetStayOnTop(bool onTop);
    TEditorEx* ActivePane() const;
    std::shared_ptr<TCommXEx> NewPort();
    int ShowMessage(const std::string& utf8Text, const std::string& utf8Caption, unsigned flags);
    void ShowError(const std::exception& error);
    // A settings file that cannot be written (a read-only place) is reported once, not per command.
    void ReportSettingsError(const std::exception& error);
    std::optional<std::string> ChooseFile(bool save, FileDialogRequest request);

    std::shared_ptr<WindowGroup> group_;
    int windowNumber_ = 0;  // 0 for the main window
    SheetList sheets_;
    WindowActions actions_;
    CommandProcessor commands_;
    ReceiveDisplay receive_;
    PortWatch* portWatch_ = nullptr;
    bool autoColOff_ = false;
    bool closing_ = false;
    int logImage_ = 24;
    std::vector<std::function<void(int)>> activeSheetHandlers_;
    std::vector<std::function<void()>> closingHandlers_;
    std::vector<std::function<bool()>> closeRequestHandlers_;
    TEditorEx* MainEd = nullptr;
    std::unique_ptr<TEditorExProp> EditorExProp1;
    CopyDataServer* copyData_ = nullptr;
};

}  // namespace pek

#pragma once
// The terminal window: sheets (tab pages with a pane and a port), the command line, the receive
// display, logging and the settings file. The main window owns the ports; shadow windows show a
// sheet a second time and share its text and port.
#include "platform/CopyData.h"
#include "platform/DialogService.h"
#include "platform/Profile.h"
#include "terminal/CommandHistory.h"
#include "terminal/ReceiveText.h"

#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QKeyEvent;
class QMenu;
class QTabWidget;
class QTimer;
class QToolButton;
class QWidget;

namespace pek {

class TCommXEx;
class TCustomCommX;
class TEditorEx;
class TEditorExProp;

class TPekForm : public QMainWindow {
    Q_OBJECT
public:
    // The main window reads and writes the settings file at iniPath. A shadow window is made by
    // its main window (ViewOtherWinActExecute).
    explicit TPekForm(std::string iniPath, QWidget* parent = nullptr);
    ~TPekForm() override;

    struct Sheet {
        std::string fileName;                 // CP932
        std::shared_ptr<TCommXEx> port;       // owned by the main window
        std::weak_ptr<TCommXEx> sharedPort;   // a shadow window's view of the main window's port
        QWidget* page = nullptr;
        TEditorEx* pane = nullptr;
        LeadByteHold leadByte;                // per sheet: sheets receiving at once never mix bytes
        QTimer* reconnect = nullptr;          // watches for a vanished device to come back
    };

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

    // Receive display.
    void CommX1Receive(TCustomCommX& sender, std::int32_t receiveSize);
    void CommX1Error(TCustomCommX& sender, std::int32_t errorState);
    void ShowText(int sheet, std::string_view text, bool log);
    // A message for the user in the active sheet's pane, logged when its port logs messages.
    void ShowMessageOnActiveSheet(std::string_view text);
    // Writes to the port's log when one is open; a failing write closes the log and tells the user.
    void WriteLog(TCommXEx& port, std::string_view text);
    void AppendToPane(TEditorEx& pane, TCommXEx* port, bool log, std::string_view text);
    static void ScrollToEnd(TEditorEx& pane);

    // Command line.
    void ExecCommand(int sheet, std::string text, bool fromUser);
    void RunRunCmdActExecute();
    bool HandleCopyData(std::uint32_t dwData, const std::string& payload);

    // Text on its way to the end of a pane: stamped and logged as one append.
    class PaneAppend {
    public:
        PaneAppend(TPekForm& form, TEditorEx& pane, TCommXEx* port, bool log);
        ~PaneAppend() { Flush(); }  // Flush never throws: log failures are handled by WriteLog
        PaneAppend(const PaneAppend&) = delete;
        PaneAppend& operator=(const PaneAppend&) = delete;
        void Add(std::string_view text);
        void Flush();
        void Discard();  // the pane went away: nothing more is shown

    private:
        TPekForm& form_;
        TEditorEx& pane_;
        TCommXEx* port_;
        bool log_;
        int timeTyp_;
        LineStamper stamper_;
        std::string text_;
        bool discarded_ = false;
    };

    // Logging.
    void FileLogActExecute();
    int LogButtonImage() const { return logImage_; }  // 24 closed, 25 open

    // Window commands.
    void FileOpenActExecute();
    void FileLoadActExecute();
    bool FileSaveActExecute();
    bool FileSaveAsActExecute();
    void FileCloseToNewActExecute();
    void EditClearActExecute();

    // State for tests and other parts.
    int SheetCount() const { return int(sheets_.size()); }
    int ActiveSheet() const;
    void SetActiveSheet(int sheet);
    const std::string& SheetFileName(int sheet) const { return sheets_.at(size_t(sheet))->fileName; }
    TCommXEx* SheetPort(int sheet) const;
    TEditorEx* SheetPane(int sheet) const;
    TEditorEx& Template() const { return *MainEd; }
    bool IsShadow() const { return shadow_; }
    bool Echo() const { return echo_; }
    void SetEcho(bool on) { echo_ = on; }
    bool CtrlCode() const { return ctrlCode_; }
    void SetCtrlCode(bool on) { ctrlCode_ = on; }
    bool PanesReadOnly() const;
    const CommandHistory& History() const { return history_; }
    const std::string& IniPath() const { return iniPath_; }
    ProfileFile& Ini() { return ini_; }
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
    QWidget* LogOptPnl = nullptr;
    QCheckBox* RcvCBox = nullptr;
    QCheckBox* TrsCBox = nullptr;
    QCheckBox* MsgCBox = nullptr;
    QCheckBox* BinCBox = nullptr;
    QAction* ExtraMenu1 = nullptr;

    QAction* FileOpenComAct = nullptr;
    QAction* FileOpenAct = nullptr;
    QAction* FileCloseToNewAct = nullptr;
    QAction* FileLoadAct = nullptr;
    QAction* FileSaveAct = nullptr;
    QAction* FileSaveAsAct = nullptr;
    QAction* FileLogAct = nullptr;
    QAction* FileCloseComAct = nullptr;
    QAction* FileCloseAct = nullptr;
    QAction* FileQuitAct = nullptr;
    QAction* EditUndoAct = nullptr;
    QAction* EditRedoAct = nullptr;
    QAction* EditCutAct = nullptr;
    QAction* EditCopyAct = nullptr;
    QAction* EdtiPasteAct = nullptr;
    QAction* EditSelectAllAct = nullptr;
    QAction* EditClearAct = nullptr;
    QAction* EditReadOnlyAct = nullptr;
    QAction* SrchSearchAct = nullptr;
    QAction* SrchForwardAct = nullptr;
    QAction* SrchBackwardAct = nullptr;
    QAction* ViewStayOnTopAct = nullptr;
    QAction* ViewSplitAct = nullptr;
    QAction* ViewOtherWinAct = nullptr;
    QAction* ViewDebugger = nullptr;
    QAction* ViewStopMcrAct = nullptr;
    QAction* ViewLuaGuiAct = nullptr;
    QAction* RunRunCmdAct = nullptr;
    QAction* RunAsciiCodeAct = nullptr;
    QAction* RunCallCmdAct = nullptr;
    QAction* OptSettingAct = nullptr;
    QAction* OptFncSettingAct = nullptr;
    QAction* HelpVerAct = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TPekForm(std::string iniPath, TPekForm& mainWindow, int windowNumber);

    void FormCreate();
    void FormClose();
    void CreateActions();
    void CreateMenus();
    void CreateCommandPanel();
    void CreateLogPanel();
    void CmdPnlResize();
    void PageControl1Change();
    void RefreshLogButton();
    void AttachPaneHandlers(TEditorEx& pane);
    bool InpCmdCbxKeyDown(QKeyEvent& key);
    void EdKeyDown(int& key, Qt::KeyboardModifiers shift);
    void EdKeyPress(std::string& key);
    void CommX1Disconnect(TCustomCommX& sender);
    static void RemoveLastCharacter(TEditorEx& pane);
    void WatchForReconnect(int sheet);
    int SheetOfPort(const TCustomCommX& port) const;
    TEditorEx* ActivePane() const;
    TPekForm& MainWindow() { return mainWindow_ ? *mainWindow_ : *this; }
    std::shared_ptr<TCommXEx> PortOf(const Sheet& sheet) const;
    int ShowMessage(const std::string& utf8Text, const std::string& utf8Caption, unsigned flags);
    void ShowError(const std::exception& error);
    std::string HighlightSection(const std::string& fileName, int sheet) const;
    void SaveHistory();
    std::optional<std::string> ChooseFile(bool save, FileDialogRequest request);
    void LoadFileIntoPane(TEditorEx& pane, const std::string& fileName);
    void SavePaneToFile(TEditorEx& pane, const std::string& fileName);
    std::unique_ptr<TCommXEx> NewPort();

    std::string iniPath_;
    ProfileFile ini_;
    TPekForm* mainWindow_ = nullptr;  // null for the main window itself
    bool shadow_ = false;
    int windowNumber_ = 0;
    std::vector<std::unique_ptr<Sheet>> sheets_;
    std::vector<QPointer<TPekForm>> shadows_;
    int nextShadowNumber_ = 1;
    bool echo_ = true;
    bool ctrlCode_ = true;
    bool autoColOff_ = false;
    bool swallowKey_ = false;
    bool closing_ = false;
    int logImage_ = 24;
    CommandHistory history_;
    TEditorEx* MainEd = nullptr;
    std::unique_ptr<TEditorExProp> EditorExProp1;
    CopyDataServer* copyData_ = nullptr;
};

}  // namespace pek

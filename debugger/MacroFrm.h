#pragma once
// The debugger window: source tabs holding Lua files, the run commands, and the views of a stopped
// script (current line, stack, locals, globals, watches, call history, messages, console).
#include "debugger/DebugEngine.h"
#include "debugger/DebuggerViewModel.h"
#include "debugger/EditInfo.h"
#include "editor/EditorProps.h"

#include <QMainWindow>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTabWidget;
class QTreeView;

namespace pek {

class CopyDataNestedScope;
class ProfileFile;
class TfrmEval;

class TfrmMacro : public QMainWindow, private TDebugView {
    Q_OBJECT
public:
    // ini: the settings file for the window's position (may be null); owner: the main window.
    TfrmMacro(ProfileFile* ini, QWidget* owner);
    ~TfrmMacro() override;

    TDebugEngine& Engine() { return engine_; }
    // What the views show.
    TDebuggerViewModel& View() { return view_; }
    // A command of the window by its name ("acRun", ...), for the hosts and tests that drive it.
    QAction* Action(const char* name) const;
    // The settings file is going: the window's place is no longer saved.
    void DetachSettings() { ini_ = nullptr; }

    // The macro host's entry: loads the file into a tab, makes it the target and runs it; returns
    // when the run has ended. Throws a script error on, and Exception when the file cannot be read.
    void RunFile(const std::string& fileName, const std::string& functionName, std::vector<std::string>* results,
                 const std::vector<std::string>& args);
    bool IsRunning() const { return engine_.IsRunning(); }
    void Stop() { engine_.Stop(); }
    void ToggleBreakPoint(const std::string& file, int line);
    // The host's script API for each debugged run's state.
    void SetOnInitState(std::function<void(lua_State*)> handler) { engine_.OnInitState = std::move(handler); }
    void SetOnRunEnd(std::function<void()> handler) { engine_.OnRunEnd = std::move(handler); }
    // The source editors take this font (the main window's pane font).
    void SetSourceFont(const TEditorFont& font);

    // Tabs.
    int IndexOfFile(const std::string& name) const;
    TEditInfo* FindTab(const std::string& name) const;
    TEditInfo* NewTab(const std::string& name);
    TEditInfo* OpenTab(const std::string& name);
    TEditInfo* ActiveTab() const;
    int TabCount() const { return int(tabs_.size()); }
    TEditInfo& Tab(int i) const { return *tabs_[std::size_t(i)]; }
    void DeleteTab(int i);
    void GoToLine(const std::string& name, int row);
    void LoadFile(const std::string& name);
    void RefreshTargets();

    void SetRunArguments(const std::string& text);
    const std::vector<std::string>& RunArguments() const { return FArgs; }

    // Commands of the File menu.
    void Open1Click();
    void Save1Click();
    bool SaveAs1Click();
    void V2Click();
    void Close1Click();
    void L1Click();
    void P1Click();

    TfrmEval& EvalForm() { return *eval_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // TDebugView
    void ActionsChanged() override;
    std::string TargetFileName() override;
    std::string TargetText() override;
    void RunStarting(bool trace) override;
    void CurrentLineLeft() override;
    void RunEnded() override;
    void ShowPosition(const std::string& file, int line, lua_State* L) override;
    void RefreshAfterRun(lua_State* L) override;
    void ShowWindow() override;
    void ShowError(const std::string& file, int line, const std::string& message) override;
    void AppendMessage(const std::string& text) override;
    void CallEntered(const std::string& text) override;
    void CallsDropped(int count) override;
    std::string LineText(const std::string& file, int line) override;
    bool DisplayOn() override;
    void ServeEvents(bool wait) override;

    void BuildActions();
    QWidget* BuildTopBar(QWidget* parent);
    QWidget* BuildSourceAndStack(QWidget* parent);
    QWidget* BuildWatchBand(QWidget* parent);
    QWidget* BuildMessages(QWidget* parent);
    void ConnectViews();
    void BuildMenus();
    // Draws a part of the view-model in its widget.
    void ShowPart(TDebuggerViewModel::Part part);
    void ShowAppended(TDebuggerViewModel::Part part, const std::string& text);
    void ShowWatches();
    void ShowCalls();
    void pgcEditChange();
    void SetBreakAtCaret();
    void RunCommand(const std::function<void()>& command);
    void FitGridColumns();
    void RefreshBreakGrid();
    void SaveWindowPosition();
    TEditInfo* TargetTab() const;
    void ShowErrorBox(const std::exception& e);

    TDebugEngine engine_;
    TDebuggerViewModel view_;
    ProfileFile* ini_;
    QWidget* owner_;
    TEditorProps sourceProps_;
    std::vector<std::unique_ptr<TEditInfo>> tabs_;
    std::string argumentText_;
    std::vector<std::string> FArgs;
    std::unique_ptr<TfrmEval> eval_;
    bool positioned_ = false;
    // While a run is in progress, other programs' commands are carried out without waiting for it.
    std::unique_ptr<CopyDataNestedScope> nestedCommands_;

    QAction *acRun, *acPause, *acStop, *acTrace, *acStep, *acUp, *acExecuteToCursor, *acEval, *acAddWatch, *acSetBreak;
    QComboBox* cbTarget;
    QCheckBox* chkInterlock;
    QCheckBox* chkDisp;
    QPushButton* btnEval;
    QTabWidget* pgcEdit;
    QTabWidget* pgcStack;
    QListWidget* lstStack;
    QTreeView* tvGlobal;
    QListWidget* lstLocal;
    QTabWidget* pgcWatch;
    QTableWidget* sgWatch;
    QTableWidget* sgBreak;
    QListWidget* lstStackTrace;
    QTabWidget* pgcMessage;
    QPlainTextEdit* memMessage;
    QPlainTextEdit* memConsole;
};

}  // namespace pek

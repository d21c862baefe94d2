#pragma once
// What features outside terminal/ (macro host, debugger, settings, script dialogs) see of the main
// window. The composition root (app/) hands this interface to each feature; terminal/ knows none of
// them. Every call is made on the main thread.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QAction;
class QObject;
class QWidget;

namespace pek {

class ProfileFile;
class TCommXEx;
class TEditorEx;

class TerminalHost {
public:
    virtual ~TerminalHost() = default;

    // Sheets of the main window, numbered by tab index from 0.
    virtual int ActiveSheet() const = 0;
    virtual int SheetCount() const = 0;
    // The sheet's (first) pane; null for a number that names no sheet.
    virtual TEditorEx* SheetPane(int sheet) const = 0;
    // The sheet's port object; null when the sheet has none or the number names no sheet.
    virtual TCommXEx* SheetPort(int sheet) const = 0;
    // The same, shared: a worker thread that keeps using a port holds it this way, so closing the
    // sheet meanwhile closes the port but does not free it under the worker.
    virtual std::shared_ptr<TCommXEx> SheetPortShared(int sheet) const = 0;
    // The file name the sheets list holds for the sheet (CP932, "(無題)" without a file); empty for
    // a number that names no sheet.
    virtual std::string SheetFile(int sheet) const = 0;
    // A log was opened or closed other than through the window's log command: the log buttons of
    // every window show it.
    virtual void LogStateChanged() = 0;

    // Appends text (CP932) to the sheet's pane with its time stamps, logging it when log is set and
    // the sheet's port has a log open; scrolls to the end.
    virtual void ShowText(int sheet, std::string_view text, bool log) = 0;
    // The command processor: echo, history (fromUser), "!" macros, or the text plus the line ending
    // sent through the sheet's port.
    virtual void ExecCommand(int sheet, std::string text, bool fromUser) = 0;

    // The settings file the main window reads and writes.
    virtual ProfileFile& Ini() = 0;
    // A window action by its object name ("ViewStopMcrAct", "OptSettingAct", ...), or null. A feature
    // enables the actions it serves by connecting to them and calling setEnabled(true).
    virtual QAction* Action(std::string_view name) const = 0;
    // The widget that dialogs are centred on and parented to.
    virtual QWidget* DialogParent() = 0;

    // "!file" and "!!file" commands go to the macro host once it is attached (without one, the command
    // line says that no macro engine is present). forceThreadRun is set for "!!"; for "!" the runner
    // decides how to run. The file was found to exist just before the call.
    using MacroRunner = std::function<void(int sheet, const std::string& fileName, bool forceThreadRun)>;
    virtual void SetMacroRunner(MacroRunner runner) = 0;

    // Events for features; each subscriber is called in the order it subscribed.
    virtual void OnActiveSheetChanged(std::function<void(int sheet)> handler) = 0;
    // After every command the command processor carried out (typed, from another program, or Trans).
    virtual void OnCommandDone(std::function<void()> handler) = 0;
    // The main window is closing: stop what runs on its sheets before the ports close.
    virtual void OnClosing(std::function<void()> handler) = 0;
    // Asked first when the main window is to close; a handler that returns false keeps it open (it
    // closes the window again later itself, e.g. once a debugged run has ended).
    virtual void OnCloseRequest(std::function<bool()> handler) = 0;
    // A shadow window was opened (from this window or another of its group): features that serve
    // window actions attach to its actions too. The window lives until it is closed.
    virtual void OnWindowOpened(std::function<void(TerminalHost& window)> handler) = 0;

    // For the settings dialog and the call-function picker.
    // The hidden template pane: every new pane takes its properties; EditorAll stores them.
    virtual TEditorEx* TemplatePane() const = 0;
    struct Options {
        bool echo = true;
        bool ctrlCode = true;
        bool autoColOff = false;  // new panes start without automatic horizontal scrolling
    };
    virtual Options WindowOptions() const = 0;
    virtual void SetWindowOptions(const Options& options) = 0;
    // Gives the sheet a port object when it has none (closed, with the window's handlers and a new
    // sheet's defaults) and returns the sheet's port; null for a number that names no sheet.
    virtual std::shared_ptr<TCommXEx> AddSheetPort(int sheet) = 0;
    // Closes the sheet's port and drops it from the sheet; a worker holding it keeps a closed object.
    virtual void RemoveSheetPort(int sheet) = 0;
    // The sheet's port was set up anew (open or not): captions and log button follow it, and a port
    // that did not open is watched for its device.
    virtual void PortSettingsChanged(int sheet) = 0;
    // Writes the sheet's section (port keys, file name, highlighting), EditorAll from the template
    // pane and ReadOnly in one write. Raises pek::Exception when the file cannot be written.
    virtual void SaveSheetSettings(int sheet) = 0;
    // The text as if typed into the command box and run by the run-command action.
    virtual void RunCommandLine(const std::string& text) = 0;
};

// Enables the window's action `name` and runs handler when it is triggered, for as long as context
// lives. Nothing happens when the window has no such action.
void ServeAction(TerminalHost& window, std::string_view name, QObject* context, std::function<void()> handler);
// The same for an action that shows `tool` and brings it to the front.
void ShowFromAction(TerminalHost& window, std::string_view name, QWidget* tool);

}  // namespace pek

#pragma once
// The main window and its shadow windows: their numbers, the settings file they share, and what
// features attached to the main window expect of all of them. Each window holds the group; no
// window reaches into another.
#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pek {

class ProfileFile;
class TPekForm;
class TerminalHost;

class WindowGroup {
public:
    using MacroRunner = std::function<void(int sheet, const std::string& fileName, bool forceThreadRun)>;

    explicit WindowGroup(std::string iniPath);
    ~WindowGroup();

    const std::string& IniPath() const { return iniPath_; }
    ProfileFile& Ini() { return *ini_; }

    // The main window is number 0; shadows are numbered 1, 2, ... in the order they open.
    void SetMain(TPekForm& main);
    TPekForm* Main() const;
    int NextShadowNumber() { return nextNumber_++; }
    void AddShadow(TPekForm& shadow);
    std::vector<TPekForm*> Shadows() const;  // the open ones, in opening order
    std::vector<TPekForm*> Windows() const;  // the main window first

    void SetMacroRunner(MacroRunner runner) { macroRunner_ = std::move(runner); }
    // False when no macro engine is attached.
    bool RunMacro(int sheet, const std::string& fileName, bool forceThreadRun) const;

    void OnCommandDone(std::function<void()> handler) { commandDone_.push_back(std::move(handler)); }
    // Told of every shadow window the group gains.
    void OnWindowOpened(std::function<void(TerminalHost& window)> handler) { windowOpened_.push_back(std::move(handler)); }
    void WindowOpened(TerminalHost& window) const
    {
        for (const auto& handler : windowOpened_) handler(window);
    }
    void CommandDone() const;

    // A settings file that cannot be written is reported once, until a write succeeds again.
    bool FirstSettingsError();
    void SettingsWritten() { settingsErrorShown_ = false; }

private:
    std::string iniPath_;
    std::unique_ptr<ProfileFile> ini_;
    QPointer<TPekForm> main_;
    std::vector<QPointer<TPekForm>> shadows_;
    int nextNumber_ = 1;
    MacroRunner macroRunner_;
    std::vector<std::function<void()>> commandDone_;
    std::vector<std::function<void(TerminalHost&)>> windowOpened_;
    bool settingsErrorShown_ = false;
};

}  // namespace pek

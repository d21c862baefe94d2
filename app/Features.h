#pragma once
// Every feature of the program attached to its main window through the window's interface: the
// macro host, the debugger, the script GUI, the settings and script dialogs, search and the small
// window tools. Destroyed, in the reverse order, before the window.
#include <memory>

namespace pek {

class TDebuggerHost;
class TMacroHost;
class TPekForm;
class TScriptDialogs;
class TScriptGui;
class TSearchFeature;
class TSettings;
class TWindowTools;

class TFeatures {
public:
    explicit TFeatures(TPekForm& form);
    ~TFeatures();
    TFeatures(const TFeatures&) = delete;
    TFeatures& operator=(const TFeatures&) = delete;

    TMacroHost& MacroHost() const { return *macroHost_; }
    TDebuggerHost& Debugger() const { return *debugger_; }

private:
    std::unique_ptr<TMacroHost> macroHost_;
    std::unique_ptr<TDebuggerHost> debugger_;
    std::unique_ptr<TScriptGui> scriptGui_;
    std::unique_ptr<TSettings> settings_;
    std::shared_ptr<TScriptDialogs> scriptDialogs_;
    std::unique_ptr<TSearchFeature> search_;
    std::unique_ptr<TWindowTools> windowTools_;
};

}  // namespace pek

#pragma once
// The script GUI feature: the panel, created on first use, and the eighteen Gui* script
// functions registered into every run through the macro host. Threads: "Threads" in README.md.
#include <cstdint>
#include <memory>

struct lua_State;

namespace pek {

class TerminalHost;
class TMacroHost;
class TGuiLuaForm;
struct TGuiShared;

class TScriptGui {
public:
    // Main thread. Registers the functions with the host and serves the window's "ViewLuaGuiAct".
    TScriptGui(TerminalHost& window, TMacroHost& host);
    // Runs still waiting in the panel end with "STOP"; the panel goes.
    ~TScriptGui();
    TScriptGui(const TScriptGui&) = delete;
    TScriptGui& operator=(const TScriptGui&) = delete;

    // The panel, made when first needed.
    TGuiLuaForm& Form();
    TGuiLuaForm* FormIfAny() { return form_.get(); }

private:
    TerminalHost& window_;
    std::shared_ptr<TGuiShared> shared_;
    std::int64_t key_ = 0;  // the number script states know the feature by
    std::unique_ptr<TGuiLuaForm> form_;
};

// For the composition root: the feature attached to the window and the macro host.
std::unique_ptr<TScriptGui> AttachScriptGui(TerminalHost& window, TMacroHost& host);

// Registers the Gui* functions of the feature (named by its number) into a script state (what the
// host calls).
void RegisterGuiFunctions(lua_State* L, std::int64_t feature);

}  // namespace pek

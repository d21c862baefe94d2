#pragma once
// The script functions that talk to the user and the desktop: FileDialog, InpPara, SelMenu,
// MessageBox, ClipBoard and ShellExecute.
#include <functional>
#include <memory>

struct lua_State;

namespace pek {

class TScriptDialogs;
class TerminalHost;

// For the composition root: the dialogs of scripts on this window (closed when it closes) ...
std::shared_ptr<TScriptDialogs> AttachScriptDialogs(TerminalHost& window);
// ... and the library that registers the functions into a run's state (TMacroHost::AddScriptLibrary).
std::function<void(lua_State*)> ScriptDialogLibrary(std::shared_ptr<TScriptDialogs> dialogs);

}  // namespace pek

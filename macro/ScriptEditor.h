#pragma once
// The script's Editor object: a table whose `Handle` names a pane of the window and whose
// properties and methods act on that pane on the main thread.
#include <lua.hpp>

#include <cstdint>

namespace pek {

class TEditorEx;
class TerminalHost;

int ScriptEditor(lua_State* L);
// Gives the table at index its metatable's __index and, unless null, __newindex (a new metatable
// when it has none).
void SetObjectHandlers(lua_State* L, int index, lua_CFunction get, lua_CFunction set);
// The __index of a Regex object: `No` and `Text` as an Editor object reads them, nothing else.
// Without a window (PaneNoAndText not registered) reading them is a script error.
int ScriptEditorNoAndText(lua_State* L);
// The window's part of it, for (object, "No" or "Text"); RegisterPaneFunctions installs it.
int PaneNoAndText(lua_State* L);
// Editor and the Regex object's pane properties: only a run in a window has them.
void RegisterPaneFunctions(lua_State* L);
// Where RegisterPaneFunctions leaves PaneNoAndText in the registry.
inline constexpr char PaneNoAndTextKey[] = "pek.PaneNoAndText";

// A pane's `Handle` is a token, never an address: an id that stays with the pane for its life and
// is looked up among the window's live panes at every use (main thread only).
std::uint64_t PaneToken(TEditorEx& pane);
TEditorEx* PaneByToken(const TerminalHost& window, std::uint64_t token);

}  // namespace pek

#pragma once
// Which pane a window action acts on: the pane a script's Editor object names while it triggers
// the action, else the active sheet's pane, or the view of that sheet that has the focus when the
// sheet is split. Main thread only.
class QAction;

namespace pek {

class TEditorEx;
class TerminalHost;

// Triggers the action with the pane as its target for the time of the call.
void TriggerForPane(QAction& action, TEditorEx& pane);
// The given pane, else the one the window's actions act on by default.
TEditorEx* TargetPane(TEditorEx* pane, TerminalHost& window);
// The pane the action, being triggered now, acts on.
TEditorEx* ActionTargetPane(const QAction& action, TerminalHost& window);

}  // namespace pek

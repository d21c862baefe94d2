#include "terminal/ActionTarget.h"

#include "editor/EditorEx.h"
#include "terminal/TerminalHost.h"

#include <QAction>
#include <QApplication>
#include <QVariant>

namespace pek {

namespace {

// Set on the action only while TriggerForPane runs it.
constexpr char TargetProperty[] = "pekSearchTarget";

}  // namespace

void TriggerForPane(QAction& action, TEditorEx& pane)
{
    action.setProperty(TargetProperty, QVariant::fromValue<QObject*>(&pane));
    struct Clear {
        QAction& action;
        ~Clear() { action.setProperty(TargetProperty, QVariant()); }
    } clear{action};
    action.trigger();
}

TEditorEx* TargetPane(TEditorEx* pane, TerminalHost& window)
{
    if (pane != nullptr) return pane;
    pane = window.SheetPane(window.ActiveSheet());
    // A sheet split in two shows its text in more than one pane: the one with the focus is meant.
    auto* focused = qobject_cast<TEditorEx*>(QApplication::focusWidget());
    const QWidget* parent = window.DialogParent();
    if (pane != nullptr && focused != nullptr && parent != nullptr && focused->window() == parent->window() &&
        focused->Model().SharedLines() == pane->Model().SharedLines())
        return focused;
    return pane;
}

TEditorEx* ActionTargetPane(const QAction& action, TerminalHost& window)
{
    return TargetPane(qobject_cast<TEditorEx*>(action.property(TargetProperty).value<QObject*>()), window);
}

}  // namespace pek

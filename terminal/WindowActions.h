#pragma once
// The window's commands: one table gives each action its name, caption, shortcut and menu place.
// An action is disabled until a handler is attached to it, so a command whose feature is not in the
// program shows but cannot be chosen.
#include <QObject>

#include <functional>
#include <string_view>
#include <vector>

class QAction;
class QMenuBar;

namespace pek {

struct ActionEntry {
    const char* name;      // the action's fixed name, also its object name
    const char* caption;   // UTF-8
    const char* shortcut;  // empty for none
    const char* menu;      // the menu-bar caption it appears under (UTF-8)
    bool separatorBefore;
    bool checkable;
};

// Every action of the main window, in menu order.
const std::vector<ActionEntry>& WindowActionTable();

class WindowActions {
public:
    explicit WindowActions(QObject* owner);

    QAction* Find(std::string_view name) const;
    // Connects the handler and enables the action.
    QAction* Attach(std::string_view name, std::function<void()> handler);
    // Builds the menus from the table.
    void FillMenuBar(QMenuBar& bar) const;

private:
    QObject* owner_;
    std::vector<QAction*> actions_;  // in table order, owned by owner_
};

}  // namespace pek

#include "terminal/TerminalHost.h"

#include <QAction>
#include <QWidget>

namespace pek {

void ServeAction(TerminalHost& window, std::string_view name, QObject* context, std::function<void()> handler)
{
    QAction* action = window.Action(name);
    if (action == nullptr) return;
    QObject::connect(action, &QAction::triggered, context, std::move(handler));
    action->setEnabled(true);
}

void ShowFromAction(TerminalHost& window, std::string_view name, QWidget* tool)
{
    ServeAction(window, name, tool, [tool] {
        tool->show();
        tool->raise();
        tool->activateWindow();
    });
}

}  // namespace pek

#pragma once
// The window's two small panels: the command panel at the bottom, and the log options shown in
// the log file dialog.
class QCheckBox;
class QComboBox;
class QToolButton;
class QWidget;

namespace pek {

class WindowActions;

struct CommandPanelWidgets {
    QWidget* panel;
    QComboBox* box;
    QToolButton* hex;   // the hex mode of the command line, by its text
    QToolButton* ok;
    QToolButton* ascii;
    QToolButton* call;
    QToolButton* log;
};
// The command box filling the row, then HexBtn, OkBtn, AsciiCodeBtn, CallBtn and LogBtn at the right
// edge, each carrying out its action and showing its image (HexBtn its text).
CommandPanelWidgets BuildCommandPanel(QWidget& parent, const WindowActions& actions, int maxHistory);

struct LogOptionWidgets {
    QWidget* panel;
    QCheckBox* rcv;
    QCheckBox* trs;
    QCheckBox* msg;
    QCheckBox* bin;
};
LogOptionWidgets BuildLogOptionPanel(QWidget& parent);

}  // namespace pek

#pragma once
// The call-function list editor: a grid of titles and command lines, stored in the settings file.
#include "settings/CallFunctions.h"

#include <QDialog>

class QPushButton;
class QTableWidget;

namespace pek {

class TerminalHost;

class TFncSettingForm : public QDialog {
    Q_OBJECT
public:
    explicit TFncSettingForm(TerminalHost& window, QWidget* parent = nullptr);

    // Reloads the list, shows it through the dialog service: 1 OK, 2 Cancel.
    int ShowModal();
    // From the settings file into the entries and the grid; rows below the entries are cleared.
    void LoadList();
    // Stores every row that has a title, in the order the rows are shown; false when the file
    // could not be written (a message was shown, the dialog stays open).
    bool OkBtnClick();
    // One empty row at the bottom for a new entry.
    void EnsureSpareRow();

    const std::vector<CallEntry>& Entries() const { return FEntries; }

    QTableWidget* FncStringGrid = nullptr;
    QPushButton* OkBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

private:
    std::vector<CallEntry> RowsShown() const;

    TerminalHost& window_;
    std::vector<CallEntry> FEntries;
};

}  // namespace pek

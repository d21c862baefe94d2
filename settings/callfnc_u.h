#pragma once
// The call-function picker: a list of titles; the chosen entry's command runs as if typed.
#include <QDialog>

#include <optional>
#include <string>

class QListWidget;
class QPushButton;

namespace pek {

class TFncSettingForm;
class TerminalHost;

class TCallForm : public QDialog {
    Q_OBJECT
public:
    TCallForm(TerminalHost& window, const TFncSettingForm& list, QWidget* parent = nullptr);

    // Shows the titles through the dialog service; after OK with a title chosen, the picker is
    // out of sight and the command runs. 1 OK, 2 Cancel.
    int ShowModal();
    void FormShow();
    void OkBtnClick();

    QListWidget* FncLB = nullptr;
    QPushButton* OkBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TerminalHost& window_;
    const TFncSettingForm& list_;
    std::optional<std::string> chosen_;  // the command to run once the picker is hidden
};

}  // namespace pek

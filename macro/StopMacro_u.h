#pragma once
// The stop-macro window: a view of the running macros with stop and forced stop. It holds copies
// of the entries; every action names a run by its id, which a later run never reuses.
#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QListWidget;
class QPushButton;
class QWidget;

namespace pek {

struct TMacroEntry;

class TStopMacroForm : public QDialog {
public:
    struct Actions {
        std::function<std::vector<TMacroEntry>()> List;
        std::function<void(std::uint64_t id)> Stop;
        std::function<void(std::uint64_t id)> ForcedStop;
        std::function<QWidget*()> MainWindow;  // centred over it
    };
    explicit TStopMacroForm(Actions actions);

    QListWidget* MacroLBox;
    QWidget* Panel1;
    QPushButton* StopBtn;
    QPushButton* ForcedStopBtn;
    QPushButton* UpdateBtn;
    QPushButton* CloseBtn;

    void UpdateBtnClick();
    void StopBtnClick();
    void ForcedStopBtnClick();
    void CloseBtnClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    // The id of the selected entry, 0 for none.
    std::uint64_t SelectedId() const;

    Actions actions_;
};

}  // namespace pek

#pragma once
// The ASCII code sender: a small tool window above the main window that sends single codes to the
// active sheet's port and notes each in its pane. Its list lives in the file beside the settings file.
#include "dialogs/AsciiFormList.h"

#include <QWidget>

#include <array>
#include <cstdint>

class QComboBox;
class QLabel;
class QRadioButton;
class QToolButton;

namespace pek {

class TerminalHost;

class TAsciiForm : public QWidget {
public:
    // A top-level tool window over window.DialogParent(), which owns it.
    explicit TAsciiForm(TerminalHost& window);

    std::array<QToolButton*, TAsciiCodeList::ButtonCount> QuickBtns{};
    QRadioButton* Mode16RBtn = nullptr;
    QRadioButton* ModeCharRBtn = nullptr;
    QComboBox* AsciiCbox = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QLabel* MsgPnl = nullptr;

    // Centres the window over the main window, reloads the list with the stored mode, and shows it.
    void ShowForm();
    const TAsciiCodeList& List() const { return list_; }

    // Notes "0xHH" in the active sheet's pane, then sends the byte through its port, if any.
    void SendCode(std::uint8_t code);
    void SpeedButton1Click();
    void ModeRBtnClick(int mode);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void FillList();
    void LoadCaptions(int mode);

    TerminalHost& window_;
    TAsciiCodeList list_;
    bool reportedFileError_ = false;
};

}  // namespace pek

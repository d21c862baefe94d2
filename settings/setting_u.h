#pragma once
// The settings dialog: the active sheet's port, the display settings common to every pane, and the
// active sheet's highlighting. It reads the live objects when shown and writes them back on OK.
#include "settings/SettingValues.h"
#include "terminal/PortList.h"

#include <QDialog>

#include <array>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace pek {

class TColorBox;
class TEditorEx;
class TerminalHost;

class TSettingForm : public QDialog {
    Q_OBJECT
public:
    explicit TSettingForm(TerminalHost& window, QWidget* parent = nullptr);
    ~TSettingForm() override;

    // Shows the dialog through the dialog service: 1 OK, 2 Cancel.
    int ShowModal();
    void FormShow();
    // Applies everything; false (the dialog stays open, a message was shown) when a value is refused.
    bool OkBtnClick();
    void CancelBtnClick();
    void SaveAsEd2BtnClick();
    void LoadEd2BtnClick();

    // Page "通信".
    QComboBox* TmCBox = nullptr;
    QSpinBox* PortNoSed = nullptr;
    QLabel* PortPathLbl = nullptr;
    QComboBox* PortListCbx = nullptr;
    // The device of the port number: chosen from the devices present or typed. OK maps the number to it.
    QComboBox* PortDeviceCbx = nullptr;
    void SetDeviceFolders(DeviceFolders folders) { deviceFolders_ = std::move(folders); }
    QComboBox* BitRateCbx = nullptr;
    QSpinBox* CharSizeSed = nullptr;
    QComboBox* ParityBitCbx = nullptr;
    QComboBox* StopBitCbx = nullptr;
    QComboBox* FlowCtrlCbx = nullptr;
    QSpinBox* XonCharSed = nullptr;
    QSpinBox* XoffCharSed = nullptr;
    QSpinBox* BufLenRecSed = nullptr;
    QSpinBox* TimeOutRecSed = nullptr;
    QSpinBox* BufLenTransSed = nullptr;
    QSpinBox* TimeOutTransSed = nullptr;
    QSpinBox* DelayTransSed = nullptr;
    QComboBox* CrTypCBox = nullptr;
    QComboBox* CharCodeCBox = nullptr;
    std::array<QRadioButton*, 4> TimeRB{};  // TNoneRB, TMsRB, TDhmsRD, TDateRD
    QCheckBox* EchoChkBox = nullptr;

    // Page "表示(共通)".
    QComboBox* FontCBox = nullptr;
    QSpinBox* FontSizeSEdit = nullptr;
    TColorBox* FontColorBox = nullptr;
    TColorBox* BkColorBox = nullptr;
    QSpinBox* WrapByteSEdit = nullptr;
    struct ColorRowControls {
        QCheckBox* on = nullptr;
        TColorBox* color = nullptr;
        QCheckBox* bkOn = nullptr;
        TColorBox* bk = nullptr;
        QCheckBox* bold = nullptr;
        QCheckBox* italic = nullptr;
    };
    std::array<ColorRowControls, 4> ColorRows;  // Reserve, Cmt, Int, Sel
    struct MarkControls {
        QCheckBox* on = nullptr;
        TColorBox* color = nullptr;
    };
    std::array<MarkControls, 3> MarkRows;  // UnderLine, Ret, Eof
    QCheckBox* CtrlCodeChkBox = nullptr;
    QCheckBox* AutoColOffChkBox = nullptr;
    QSpinBox* MaxLinesSEdit = nullptr;   // lines a pane keeps, 0 for all

    // Page "表示(個別)".
    QPlainTextEdit* ReserveWordMemo = nullptr;
    QLineEdit* CommentEd = nullptr;
    struct BlockControls {
        QLineEdit* start = nullptr;
        QLineEdit* end = nullptr;
        TColorBox* color = nullptr;
    };
    std::array<BlockControls, 3> Blocks;
    QPushButton* SaveAsEd2Btn = nullptr;
    QPushButton* LoadEd2Btn = nullptr;

    QTabWidget* PageControl = nullptr;
    QPushButton* OkBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

protected:
    void reject() override;

private:
    struct Snapshot {
        std::string commenter;
        std::vector<TBracketItem> brackets;
        std::vector<std::string> words;
        int tabWidth = 8;
    };

    void BuildPortPage(QWidget* page);
    void BuildDisplayPage(QWidget* page);
    void BuildHighlightPage(QWidget* page);
    void ShowPort();
    void ShowDisplayPages();
    void ShowPortPath();
    bool ReadPortPage(PortValues& values);
    std::string ChosenDevice() const;
    DisplayValues ReadDisplayPage() const;
    HighlightValues ReadHighlightPage() const;
    void ApplyHighlight(TEditorEx& pane, const HighlightValues& values);
    void ApplyDisplayTo(TEditorEx& pane, const DisplayValues& values);
    void Restore();
    void Message(const std::string& cp932Text, unsigned flags);
    int Sheet() const;

    TerminalHost& window_;
    std::unique_ptr<Snapshot> snapshot_;  // the active pane's highlighting when the dialog opened
    int shownSheet_ = -1;
    int shownMaxLines_ = 0;
    DeviceFolders deviceFolders_;
};

}  // namespace pek

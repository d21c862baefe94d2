#include "dialogs/AsciiForm.h"

#include "dialogs/WindowTools.h"
#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "platform/Exception.h"
#include "platform/Profile.h"
#include "serial/CommXEx.h"
#include "terminal/TerminalHost.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QRadioButton>
#include <QToolButton>

#include <cstdio>

namespace pek {

namespace {
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 20;
constexpr const char* kSection = "ASCII";
constexpr const char* kModeKey = "mode";
}  // namespace

TAsciiForm::TAsciiForm(TerminalHost& window)
    : QWidget(window.DialogParent(), Qt::Tool | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint |
                                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      window_(window)
{
    setObjectName("AsciiForm");
    setWindowTitle(Ui("ASCIIコード入力"));
    setFont(ToolWindowFont());
    setFixedSize(320, 100);
    // Moving over the background empties the panel.
    setMouseTracking(true);

    for (std::size_t i = 0; i < QuickBtns.size(); ++i) {
        auto* button = new QToolButton(this);
        button->setObjectName(QString("QuickBtn%1").arg(i + 1));
        button->setAutoRaise(true);
        button->setGeometry(int(i % 4) * kButtonWidth, int(i / 4) * kButtonHeight, kButtonWidth, kButtonHeight);
        button->installEventFilter(this);
        const std::uint8_t code = AsciiQuickCodes[i];
        connect(button, &QToolButton::clicked, this, [this, code] { SendCode(code); });
        QuickBtns[i] = button;
    }

    Mode16RBtn = new QRadioButton(Ui("16進数表示"), this);
    Mode16RBtn->setObjectName("Mode16RBtn");
    Mode16RBtn->setGeometry(210, 0, 100, 17);
    ModeCharRBtn = new QRadioButton(Ui("文字"), this);
    ModeCharRBtn->setObjectName("ModeCharRBtn");
    ModeCharRBtn->setGeometry(210, 20, 100, 17);
    ModeCharRBtn->setChecked(true);
    // clicked, not toggled: selecting a button while loading must not store the mode again.
    connect(Mode16RBtn, &QRadioButton::clicked, this, [this] { ModeRBtnClick(0); });
    connect(ModeCharRBtn, &QRadioButton::clicked, this, [this] { ModeRBtnClick(1); });

    AsciiCbox = new QComboBox(this);
    AsciiCbox->setObjectName("AsciiCbox");
    AsciiCbox->setEditable(false);
    AsciiCbox->setGeometry(0, 60, 300, 20);

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setText(Ui("←"));
    SpeedButton1->setToolTip(Ui("左に選択されたコードを送信"));
    SpeedButton1->setGeometry(300, 60, 20, 20);
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });

    MsgPnl = new QLabel(this);
    MsgPnl->setObjectName("MsgPnl");
    MsgPnl->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    MsgPnl->setGeometry(0, 80, 320, 20);

    for (QWidget* other : {static_cast<QWidget*>(Mode16RBtn), static_cast<QWidget*>(ModeCharRBtn),
                           static_cast<QWidget*>(SpeedButton1)})
        other->installEventFilter(this);
    FillList();
}

void TAsciiForm::FillList()
{
    AsciiCbox->clear();
    for (const std::string& line : list_.Lines()) AsciiCbox->addItem(Cp932ToQString(line));
    if (AsciiCbox->count() > 0) AsciiCbox->setCurrentIndex(0);
}

void TAsciiForm::ShowForm()
{
    if (!isVisible()) FormShow();
    show();
    raise();
    activateWindow();
}

void TAsciiForm::FormShow()
{
    if (QWidget* main = window_.DialogParent()) move(CentredOver(main->frameGeometry(), size()));
    LoadCaptions(window_.Ini().ReadInteger(kSection, kModeKey, 1));
}

void TAsciiForm::LoadCaptions(int mode)
{
    (mode != 0 ? ModeCharRBtn : Mode16RBtn)->setChecked(true);
    try {
        list_.LoadOrCreate(AsciiListPath(window_.Ini().Path()));
    } catch (const Exception& e) {
        // The list in hand still serves; say it once rather than at every showing.
        if (!reportedFileError_)
            Dialogs().MessageBox(this, Cp932ToQString(e.Message()), windowTitle(), MB_OK | MB_ICONERROR);
        reportedFileError_ = true;
    }
    FillList();
    list_.Relabel(mode);
    for (std::size_t i = 0; i < QuickBtns.size(); ++i) {
        QuickBtns[i]->setText(Cp932ToQString(list_.Caption(i)));
        QuickBtns[i]->setToolTip(Cp932ToQString(list_.Hint(i)));
    }
}

void TAsciiForm::ModeRBtnClick(int mode)
{
    LoadCaptions(mode);
    try {
        window_.Ini().WriteInteger(kSection, kModeKey, mode);
    } catch (const Exception& e) {
        Dialogs().MessageBox(this, Cp932ToQString(e.Message()), windowTitle(), MB_OK | MB_ICONERROR);
    }
}

void TAsciiForm::SendCode(std::uint8_t code)
{
    const int sheet = window_.ActiveSheet();
    TCommXEx* port = window_.SheetPort(sheet);
    char note[8];
    std::snprintf(note, sizeof note, "0x%02X\r\n", unsigned(code));
    window_.ShowText(sheet, note, port != nullptr && port->LogMsg());
    if (port != nullptr) port->SendByte(code);
}

void TAsciiForm::SpeedButton1Click()
{
    // Nothing selected (an empty list) or a line whose code no byte carries: nothing to send.
    if (const auto code = list_.Code(AsciiCbox->currentIndex())) SendCode(*code);
}

void TAsciiForm::mouseMoveEvent(QMouseEvent* event)
{
    MsgPnl->clear();
    QWidget::mouseMoveEvent(event);
}

bool TAsciiForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
        MsgPnl->clear();
        for (std::size_t i = 0; i < QuickBtns.size(); ++i)
            if (watched == QuickBtns[i]) MsgPnl->setText(Cp932ToQString(list_.HoverText(i)));
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace pek

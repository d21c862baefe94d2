#include "terminal/WindowPanels.h"

#include "platform/CodePage.h"
#include "terminal/ButtonImages.h"
#include "terminal/WindowActions.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QToolButton>

#include <algorithm>

namespace pek {

CommandPanelWidgets BuildCommandPanel(QWidget& parent, const WindowActions& actions, int maxHistory)
{
    CommandPanelWidgets w{};
    w.panel = new QWidget(&parent);
    w.panel->setObjectName("CmdPnl");
    auto* row = new QHBoxLayout(w.panel);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    w.box = new QComboBox(w.panel);
    w.box->setObjectName("InpCmdCbx");
    w.box->setEditable(true);
    w.box->setInsertPolicy(QComboBox::NoInsert);
    w.box->setMaxCount(maxHistory);
    row->addWidget(w.box, 1);
    const auto button = [&](const char* name, const char* action, int image) {
        auto* b = new QToolButton(w.panel);
        b->setObjectName(name);
        b->setAutoRaise(true);
        b->setDefaultAction(actions.Find(action));
        b->setIcon(ButtonImage(image));
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        row->addWidget(b);
        return b;
    };
    w.hex = new QToolButton(w.panel);
    w.hex->setObjectName("HexBtn");
    w.hex->setAutoRaise(true);
    QAction* hexMode = actions.Find("RunHexSendAct");
    hexMode->setIconText("HEX");   // what a text-only tool button shows of its action
    hexMode->setToolTip(Ui("入力を16進のバイト列として改行なしで送信します"));
    w.hex->setDefaultAction(hexMode);
    w.hex->setToolButtonStyle(Qt::ToolButtonTextOnly);
    row->addWidget(w.hex);
    w.ok = button("OkBtn", "RunRunCmdAct", 0);
    w.ascii = button("AsciiCodeBtn", "RunAsciiCodeAct", 1);
    w.call = button("CallBtn", "RunCallCmdAct", 2);
    w.log = button("LogBtn", "FileLogAct", 24);
    w.panel->setFixedHeight(std::max(20, w.box->sizeHint().height()));
    return w;
}

LogOptionWidgets BuildLogOptionPanel(QWidget& parent)
{
    LogOptionWidgets w{};
    w.panel = new QWidget(&parent);
    w.panel->setObjectName("LogOptPnl");
    auto* row = new QHBoxLayout(w.panel);
    const auto box = [&](const char* name, const char* caption, bool checked) {
        auto* b = new QCheckBox(Ui(caption), w.panel);
        b->setObjectName(name);
        b->setChecked(checked);
        row->addWidget(b);
        return b;
    };
    w.rcv = box("RcvCBox", "受信ログ", true);
    w.trs = box("TrsCBox", "送信ログ", true);
    w.msg = box("MsgCBox", "メッセージログ", true);
    w.bin = box("BinCBox", "バイナリ", false);
    w.panel->hide();
    return w;
}

}  // namespace pek

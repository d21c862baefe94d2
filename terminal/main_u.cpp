#include "terminal/main_u.h"

#include "editor/EditorEx.h"
#include "editor/EditorExProp.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "serial/CommXEx.h"
#include "terminal/EditorAllCodec.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace pek {

namespace {

const std::string& Untitled()
{
    static const std::string text = Sjis("(無題)");
    return text;
}

const std::string& EnvSection()
{
    static const std::string text = Sjis("環境");
    return text;
}

std::string SheetSection(int sheet)
{
    return "No" + std::to_string(sheet);
}

std::string LowerExtension(const std::string& fileName)
{
    std::string ext = std::filesystem::path(fileName).extension().string();
    for (auto& c : ext)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return ext;
}

bool FileExists(const std::string& cp932Name)
{
    struct stat st {};
    return ::stat(FileNameToSystem(cp932Name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The tool buttons show only images; these are drawn here so the program needs no image files.
QIcon ButtonImage(int index)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (index) {
    case 0:  // run
        p.setBrush(QColor(0, 128, 0));
        p.setPen(Qt::NoPen);
        p.drawPolygon(QPolygon({QPoint(4, 2), QPoint(13, 8), QPoint(4, 14)}));
        break;
    case 1:  // ASCII code
        p.setPen(Qt::black);
        p.setFont(QFont("monospace", 7));
        p.drawText(pixmap.rect(), Qt::AlignCenter, "0x");
        break;
    case 2:  // call
        p.setPen(QPen(Qt::darkBlue, 2));
        for (int y : {4, 8, 12}) p.drawLine(3, y, 13, y);
        break;
    case 24:  // log closed
        p.setPen(Qt::darkGray);
        p.setBrush(Qt::white);
        p.drawRect(3, 1, 10, 14);
        break;
    case 25:  // log open: recording
        p.setPen(Qt::darkGray);
        p.setBrush(Qt::white);
        p.drawRect(3, 1, 10, 14);
        p.setBrush(Qt::red);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPoint(8, 8), 4, 4);
        break;
    default:
        break;
    }
    return QIcon(pixmap);
}

std::string DefaultLogName()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::strftime(name, sizeof name, "Pek%Y%m%d_%H%M.log", &local);
    return name;
}

}  // namespace

TPekForm::TPekForm(std::string iniPath, QWidget* parent)
    : QMainWindow(parent), iniPath_(std::move(iniPath)), ini_(iniPath_)
{
    FormCreate();
}

TPekForm::TPekForm(std::string iniPath, TPekForm& mainWindow, int windowNumber)
    : QMainWindow(nullptr), iniPath_(std::move(iniPath)), ini_(iniPath_), mainWindow_(&mainWindow), shadow_(true),
      windowNumber_(windowNumber)
{
    setAttribute(Qt::WA_DeleteOnClose);
    FormCreate();
}

TPekForm::~TPekForm()
{
    // Ports stop before the panes they write to go away.
    for (auto& sheet : sheets_)
        if (sheet->port) {
            sheet->port->OnReceive = nullptr;
            sheet->port->OnError = nullptr;
            sheet->port->OnDisconnect = nullptr;
            sheet->port->Close();
        }
    for (const auto& shadow : shadows_)
        if (shadow) delete shadow.data();
}

void TPekForm::FormCreate()
{
    setWindowTitle("Pek");
    resize(453, 573);
    CreateActions();
    CreateMenus();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setDocumentMode(true);
    PageControl1->tabBar()->setContextMenuPolicy(Qt::ActionsContextMenu);
    PageControl1->tabBar()->addAction(FileCloseAct);
    PageControl1->tabBar()->addAction(FileCloseComAct);
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] { PageControl1Change(); });
    layout->addWidget(PageControl1, 1);
    CreateCommandPanel();
    layout->addWidget(CmdPnl);
    setCentralWidget(central);
    CreateLogPanel();

    // The template pane: every new pane copies its properties.
    MainEd = new TEditorEx(this);
    MainEd->setObjectName("MainEd");
    MainEd->hide();
    EditorExProp1 = std::make_unique<TEditorExProp>();

    if (!shadow_) {
        move(ini_.ReadInteger(EnvSection(), "Left", 0), ini_.ReadInteger(EnvSection(), "Top", 50));
    }
    resize(ini_.ReadInteger(EnvSection(), "Width", 453), ini_.ReadInteger(EnvSection(), "Height", 573));
    if (shadow_) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    echo_ = ini_.ReadBool(EnvSection(), "Echo", true);
    ctrlCode_ = ini_.ReadBool(EnvSection(), "CtrlCode", true);
    autoColOff_ = ini_.ReadBool(EnvSection(), "AutoColOff", false);
    history_.SetItems(FromCommaText(ini_.ReadString(EnvSection(), "InpCmd", "")));
    for (const auto& item : history_.Items()) InpCmdCbx->addItem(Cp932ToQString(item));
    InpCmdCbx->setCurrentIndex(-1);
    InpCmdCbx->setEditText(QString());

    if (ini_.ValueExists(EnvSection(), "EditorAll_c")) {
        EditorExProp1->Assign(*MainEd);
        const std::string bytes = ReadEditorAll(ini_, EnvSection());
        // A value that is not ours (the file can be edited by hand) leaves the template as it is.
        if (!bytes.empty()) {
            try {
                EditorExProp1->LoadFromBytes(bytes);
                EditorExProp1->AssignTo(*MainEd);
            } catch (const EEditorPropError&) {
            }
        }
    }
    const bool readOnly = ini_.ReadBool("Editor", "ReadOnly", true);
    MainEd->SetReadOnly(readOnly);
    EditReadOnlyAct->setChecked(readOnly);

    copyData_ = new CopyDataServer(
        windowNumber_, [this](std::uint32_t dwData, const std::string& payload) { return HandleCopyData(dwData, payload); },
        this);
    RefreshLogButton();
}

void TPekForm::CreateActions()
{
    const auto make = [this](QAction*& action, const char* name, const char* caption, auto handler,
                             QKeySequence shortcut = {}) {
        action = new QAction(Ui(caption), this);
        action->setObjectName(name);
        if (!shortcut.isEmpty()) action->setShortcut(shortcut);
        connect(action, &QAction::triggered, this, handler);
    };
    const auto later = [this](QAction*& action, const char* name, const char* caption, QKeySequence shortcut = {}) {
        // Commands of windows that are not part of the program yet: present, but disabled.
        action = new QAction(Ui(caption), this);
        action->setObjectName(name);
        if (!shortcut.isEmpty()) action->setShortcut(shortcut);
        action->setEnabled(false);
    };
    make(FileOpenComAct, "FileOpenComAct", "新しくポートを開く(&N)...", [this] { FileOpenComActExecute(); });
    make(FileOpenAct, "FileOpenAct", "ファイルを開く(&O)...", [this] { FileOpenActExecute(); }, QKeySequence("Ctrl+O"));
    make(FileCloseToNewAct, "FileCloseToNewAct", "ファイルを閉じて初期化(&C)", [this] { FileCloseToNewActExecute(); });
    make(FileLoadAct, "FileLoadAct", "ファイルをロードする(&L)...", [this] { FileLoadActExecute(); },
         QKeySequence("Ctrl+L"));
    make(FileSaveAct, "FileSaveAct", "上書き保存(&S)", [this] { FileSaveActExecute(); }, QKeySequence("Ctrl+S"));
    make(FileSaveAsAct, "FileSaveAsAct", "名前を付けて保存(&A)...", [this] { FileSaveAsActExecute(); });
    make(FileLogAct, "FileLogAct", "ログ...", [this] { FileLogActExecute(); }, QKeySequence("Ctrl+Shift+L"));
    make(FileCloseComAct, "FileCloseComAct", "ポートのみ閉じる", [this] { FileCloseComActExecute(); });
    make(FileCloseAct, "FileCloseAct", "閉じる", [this] { FileCloseActExecute(); });
    make(FileQuitAct, "FileQuitAct", "終了(&X)", [this] { close(); });
    make(EditUndoAct, "EditUndoAct", "元に戻す(&U)", [this] {
        if (auto* pane = ActivePane()) pane->Model().Undo();
    });
    make(EditRedoAct, "EditRedoAct", "やり直し(&R)", [this] {
        if (auto* pane = ActivePane()) pane->Model().Redo();
    });
    make(EditCutAct, "EditCutAct", "切り取り(&T)", [this] {
        if (auto* pane = ActivePane()) pane->CutToClipboard();
    });
    make(EditCopyAct, "EditCopyAct", "コピー(&C)", [this] {
        if (auto* pane = ActivePane()) pane->CopyToClipboard();
    });
    make(EdtiPasteAct, "EdtiPasteAct", "貼り付け(&P)", [this] {
        if (auto* pane = ActivePane()) pane->PasteFromClipboard();
    });
    make(EditSelectAllAct, "EditSelectAllAct", "すべて選択(&A)", [this] {
        if (auto* pane = ActivePane()) pane->Model().SelectAll();
    });
    make(EditClearAct, "EditClearAct", "クリア(&C)", [this] { EditClearActExecute(); });
    make(EditReadOnlyAct, "EditReadOnlyAct", "リードオンリー", [] {});
    EditReadOnlyAct->setCheckable(true);
    later(SrchSearchAct, "SrchSearchAct", "検索(&F)", QKeySequence("Ctrl+F"));
    later(SrchForwardAct, "SrchForwardAct", "次を検索(&N)", QKeySequence("F3"));
    later(SrchBackwardAct, "SrchBackwardAct", "前を検索(&P)", QKeySequence("Shift+F3"));
    make(ViewStayOnTopAct, "ViewStayOnTopAct", "最前面表示", [this] {
        // In a shadow window too, the main window is the one that stays on top.
        TPekForm& main = MainWindow();
        const bool onTop = ViewStayOnTopAct->isChecked();
        if (&main != this) main.ViewStayOnTopAct->setChecked(onTop);
        main.setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        main.show();
    });
    ViewStayOnTopAct->setCheckable(true);
    later(ViewSplitAct, "ViewSplitAct", "分割");
    ViewSplitAct->setCheckable(true);
    make(ViewOtherWinAct, "ViewOtherWinAct", "別の窓を開く", [this] { ViewOtherWinActExecute(); });
    later(ViewDebugger, "ViewDebugger", "デバッガー表示(&D)");
    later(ViewStopMcrAct, "ViewStopMcrAct", "マクロ停止窓表示");
    later(ViewLuaGuiAct, "ViewLuaGuiAct", "Lua GUI表示(&L)");
    make(RunRunCmdAct, "RunRunCmdAct", "コマンド実行(&R)", [this] { RunRunCmdActExecute(); });
    later(RunAsciiCodeAct, "RunAsciiCodeAct", "ASCIIコード送信");
    later(RunCallCmdAct, "RunCallCmdAct", "呼び出し(&C)");
    later(OptSettingAct, "OptSettingAct", "設定(&S)");
    later(OptFncSettingAct, "OptFncSettingAct", "呼び出し関数設定(&C)");
    later(HelpVerAct, "HelpVerAct", "バージョン情報(&V)");
}

void TPekForm::CreateMenus()
{
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu(Ui("ファイル(&F)"));
    file->addAction(FileOpenComAct);
    file->addSeparator();
    for (QAction* a : {FileOpenAct, FileCloseToNewAct, FileLoadAct, FileSaveAct, FileSaveAsAct, FileLogAct})
        file->addAction(a);
    file->addSeparator();
    for (QAction* a : {FileCloseComAct, FileCloseAct, FileQuitAct}) file->addAction(a);
    QMenu* edit = bar->addMenu(Ui("編集(&E)"));
    edit->addAction(EditUndoAct);
    edit->addAction(EditRedoAct);
    edit->addSeparator();
    for (QAction* a : {EditCutAct, EditCopyAct, EdtiPasteAct, EditSelectAllAct, EditClearAct}) edit->addAction(a);
    edit->addSeparator();
    edit->addAction(EditReadOnlyAct);
    QMenu* search = bar->addMenu(Ui("検索(&S)"));
    for (QAction* a : {SrchSearchAct, SrchForwardAct, SrchBackwardAct}) search->addAction(a);
    QMenu* view = bar->addMenu(Ui("表示(&V)"));
    view->addAction(ViewStayOnTopAct);
    view->addSeparator();
    view->addAction(ViewSplitAct);
    view->addAction(ViewOtherWinAct);
    view->addSeparator();
    for (QAction* a : {ViewDebugger, ViewStopMcrAct, ViewLuaGuiAct}) view->addAction(a);
    QMenu* run = bar->addMenu(Ui("実行(&R)"));
    for (QAction* a : {RunRunCmdAct, RunAsciiCodeAct, RunCallCmdAct}) run->addAction(a);
    QMenu* options = bar->addMenu(Ui("オプション(&O)"));
    options->addAction(OptSettingAct);
    options->addAction(OptFncSettingAct);
    QMenu* help = bar->addMenu(Ui("ヘルプ(&H)"));
    help->addAction(HelpVerAct);
    ExtraMenu1 = bar->addAction(QString());
    ExtraMenu1->setObjectName("ExtraMenu1");
}

void TPekForm::CreateCommandPanel()
{
    CmdPnl = new QWidget(this);
    CmdPnl->setObjectName("CmdPnl");
    auto* row = new QHBoxLayout(CmdPnl);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    InpCmdCbx = new QComboBox(CmdPnl);
    InpCmdCbx->setObjectName("InpCmdCbx");
    InpCmdCbx->setEditable(true);
    InpCmdCbx->setInsertPolicy(QComboBox::NoInsert);
    InpCmdCbx->setMaxCount(int(CommandHistory::kMaxEntries));
    InpCmdCbx->installEventFilter(this);
    InpCmdCbx->lineEdit()->installEventFilter(this);
    row->addWidget(InpCmdCbx, 1);
    const auto button = [this, row](QToolButton*& b, const char* name, QAction* action, int image) {
        b = new QToolButton(CmdPnl);
        b->setObjectName(name);
        b->setAutoRaise(true);
        b->setDefaultAction(action);
        b->setIcon(ButtonImage(image));
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        row->addWidget(b);
    };
    button(OkBtn, "OkBtn", RunRunCmdAct, 0);
    button(AsciiCodeBtn, "AsciiCodeBtn", RunAsciiCodeAct, 1);
    button(CallBtn, "CallBtn", RunCallCmdAct, 2);
    button(LogBtn, "LogBtn", FileLogAct, 24);
    CmdPnlResize();
}

void TPekForm::CmdPnlResize()
{
    // The layout keeps LogBtn at the right edge, then CallBtn, AsciiCodeBtn, OkBtn, and the
    // command box filling the rest.
    CmdPnl->setFixedHeight(std::max(20, InpCmdCbx->sizeHint().height()));
}

void TPekForm::CreateLogPanel()
{
    LogOptPnl = new QWidget(this);
    LogOptPnl->setObjectName("LogOptPnl");
    auto* row = new QHBoxLayout(LogOptPnl);
    const auto box = [this, row](QCheckBox*& b, const char* name, const char* caption, bool checked) {
        b = new QCheckBox(Ui(caption), LogOptPnl);
        b->setObjectName(name);
        b->setChecked(checked);
        row->addWidget(b);
    };
    box(RcvCBox, "RcvCBox", "受信ログ", true);
    box(TrsCBox, "TrsCBox", "送信ログ", true);
    box(MsgCBox, "MsgCBox", "メッセージログ", true);
    box(BinCBox, "BinCBox", "バイナリ", false);
    LogOptPnl->hide();
}

// ---- sheets -------------------------------------------------------------------------------

std::unique_ptr<TCommXEx> TPekForm::NewPort()
{
    auto port = std::make_unique<TCommXEx>();
    port->SetPortResolver(PortsFromSettings(iniPath_));
    port->SetBitRate(19200);
    port->SetFlowCtrl(cfcNone);
    port->OnReceive = [this](TCustomCommX& sender, std::int32_t size) { CommX1Receive(sender, size); };
    port->OnError = [this](TCustomCommX& sender, std::int32_t state) { CommX1Error(sender, state); };
    port->OnDisconnect = [this](TCustomCommX& sender) { CommX1Disconnect(sender); };
    return port;
}

void TPekForm::LoadSheets()
{
    int k = 0;
    do {
        const std::string section = SheetSection(k);
        const bool portOpen = ini_.ReadBool(section, "ComPortOpen", true);
        const std::string fileName = ini_.ReadString(section, "EditFileName", Untitled());
        if (portOpen) {
            FileOpenComActExecute();
            if (fileName != Untitled()) {
                Sheet& sheet = *sheets_.back();
                try {
                    LoadFileIntoPane(*sheet.pane, fileName);
                    sheet.fileName = fileName;
                } catch (const std::exception&) {
                    // A port sheet's file that went away is skipped silently.
                }
            }
        } else {
            AddSheet(fileName);
            LoadHighlight(SheetCount() - 1);
        }
        ++k;
    } while (ini_.SectionExists(SheetSection(k)));
    SetActiveSheet(0);
    UpdateCaptions();
}

void TPekForm::AddSheet(const std::string& fileName)
{
    auto sheet = std::make_unique<Sheet>();
    sheet->fileName = Untitled();
    sheet->page = new QWidget(PageControl1);
    auto* layout = new QVBoxLayout(sheet->page);
    layout->setContentsMargins(0, 0, 0, 0);
    sheet->pane = new TEditorEx(sheet->page);
    EditorExProp1->Assign(*MainEd);
    EditorExProp1->AssignTo(*sheet->pane);
    sheet->pane->SetReadOnly(EditReadOnlyAct->isChecked());
    sheet->pane->SetIsAutoColScroll(!autoColOff_);
    layout->addWidget(sheet->pane);
    AttachPaneHandlers(*sheet->pane);
    TEditorEx* pane = sheet->pane;
    QWidget* page = sheet->page;
    sheets_.push_back(std::move(sheet));
    PageControl1->addTab(page, QString());
    PageControl1->setCurrentWidget(page);
    if (fileName != Untitled()) {
        try {
            LoadFileIntoPane(*pane, fileName);
            sheets_.back()->fileName = fileName;
        } catch (const std::exception&) {
            ShowMessage(Cp932ToUtf8(fileName) + "\r\nを開くことができませんでした。", "Pek", MB_OK | MB_ICONERROR);
        }
    }
    UpdateCaptions();
}

void TPekForm::FileOpenComActExecute()
{
    AddSheet(Untitled());
    const int sheetIndex = SheetCount() - 1;
    UpdateCaptions();
    LoadHighlight(sheetIndex);
    Sheet& sheet = *sheets_.back();
    int portNo = 1;
    for (;;) {
        const bool used = std::any_of(sheets_.begin(), sheets_.end(), [&](const auto& s) {
            return s->port && s->port->PortNo() == portNo;
        });
        if (!used) break;
        ++portNo;
    }
    if (sheet.port)
        sheet.port->Close();
    else
        sheet.port = NewPort();
    try {
        if (!LoadPortSettings(sheetIndex)) sheet.port->SetPortNo(portNo);
        sheet.port->Open();
    } catch (const ECommError& error) {
        ShowMessage(Cp932ToUtf8(error.Message()), "Pek", MB_OK | MB_ICONERROR);
    }
    UpdateCaptions();
}

bool TPekForm::LoadPortSettings(int sheetIndex)
{
    if (sheetIndex < 0 || sheetIndex >= SheetCount()) throw ECommError(Sjis("Sheetが不足しています"));
    Sheet& sheet = *sheets_[size_t(sheetIndex)];
    if (!sheet.port) throw ECommError(Sjis("Commオブジェクトがありません"));
    TCommXEx& port = *sheet.port;
    port.Close();
    const std::string section = SheetSection(sheetIndex);
    if (ini_.ReadBool(section, "ComPortOpen", false)) {
        const auto read = [&](const char* key, int current) { return ini_.ReadInteger(section, key, current); };
        // A value the port refuses keeps the current setting; the other keys still apply.
        const auto apply = [](auto&& assign) {
            try {
                assign();
            } catch (const ECommError&) {
            }
        };
        const auto inRange = [](int v, int last, int current) { return v >= 0 && v <= last ? v : current; };
        apply([&] { port.SetPortNo(read("ComPortNo", port.PortNo())); });
        apply([&] { port.SetBitRate(read("ComBitRate", port.BitRate())); });
        apply([&] { port.SetBufLenReceive(read("ComBufLenRec", port.BufLenReceive())); });
        apply([&] { port.SetBufLenTrans(read("ComBufLenTrans", port.BufLenTrans())); });
        apply([&] { port.SetTimeOutReceive(read("ComTimeOutRec", port.TimeOutReceive())); });
        apply([&] { port.SetTimeOutTrans(read("ComTimeOutTrans", port.TimeOutTrans())); });
        apply([&] { port.SetDelayTrans(read("ComDelayTrans", port.DelayTrans())); });
        // Values outside an enumeration (a hand-edited file) keep the current setting.
        apply([&] { port.SetCrTypTrans(TCrTyp(inRange(read("ComCrTypTrans", port.CrTypTrans()), ctCrLf, port.CrTypTrans()))); });
        apply([&] { port.SetCharSize(read("ComCharSize", port.CharSize())); });
        apply([&] { port.SetFlowCtrl(TCommFlowCtrls(inRange(read("ComFlowCtrl", port.FlowCtrl()), cfcNone, port.FlowCtrl()))); });
        apply([&] { port.SetParityBit(TCommParityBits(inRange(read("ComParityBit", port.ParityBit()), cpbEven, port.ParityBit()))); });
        apply([&] { port.SetStopBit(TCommStopBits(inRange(read("ComStopBit", port.StopBit()), csb2, port.StopBit()))); });
        apply([&] { port.SetXonChar(char(read("ComXonChar", static_cast<unsigned char>(port.XonChar())))); });
        apply([&] { port.SetXoffChar(char(read("ComXoffChar", static_cast<unsigned char>(port.XoffChar())))); });
        port.SetTimeTyp(std::uint8_t(read("ComTimeTyp", port.TimeTyp())));
        UpdateCaptions();
    }
    return ini_.SectionExists(section);
}

void TPekForm::SavePortSettings(int sheetIndex)
{
    const Sheet& sheet = *sheets_.at(size_t(sheetIndex));
    const std::string section = SheetSection(sheetIndex);
    ini_.WriteBool(section, "ComPortOpen", sheet.port != nullptr);
    if (const TCommXEx* port = sheet.port.get()) {
        ini_.WriteInteger(section, "ComPortNo", port->PortNo());
        ini_.WriteInteger(section, "ComBitRate", port->BitRate());
        ini_.WriteInteger(section, "ComBufLenRec", port->BufLenReceive());
        ini_.WriteInteger(section, "ComBufLenTrans", port->BufLenTrans());
        ini_.WriteInteger(section, "ComTimeOutRec", port->TimeOutReceive());
        ini_.WriteInteger(section, "ComTimeOutTrans", port->TimeOutTrans());
        ini_.WriteInteger(section, "ComDelayTrans", port->DelayTrans());
        ini_.WriteInteger(section, "ComCrTypTrans", port->CrTypTrans());
        ini_.WriteInteger(section, "ComCharSize", port->CharSize());
        ini_.WriteInteger(section, "ComFlowCtrl", port->FlowCtrl());
        ini_.WriteInteger(section, "ComParityBit", port->ParityBit());
        ini_.WriteInteger(section, "ComStopBit", port->StopBit());
        ini_.WriteInteger(section, "ComXonChar", static_cast<unsigned char>(port->XonChar()));
        ini_.WriteInteger(section, "ComXoffChar", static_cast<unsigned char>(port->XoffChar()));
        ini_.WriteInteger(section, "ComTimeTyp", port->TimeTyp());
    }
    ini_.WriteString(section, "EditFileName", sheet.fileName);
}

std::string TPekForm::HighlightSection(const std::string& fileName, int sheet) const
{
    return LowerExtension(fileName) == ".lua" ? "Lua" : SheetSection(sheet);
}

void TPekForm::LoadHighlight(int sheetIndex)
{
    if (sheetIndex < 0 || sheetIndex >= SheetCount()) return;
    Sheet& sheet = *sheets_[size_t(sheetIndex)];
    const bool lua = LowerExtension(sheet.fileName) == ".lua";
    const std::string section = HighlightSection(sheet.fileName, sheetIndex);
    TEditorEx& pane = *sheet.pane;
    pane.SetCommenter(ini_.ReadString(section, "Cmt", lua ? "--" : ""));
    const std::string luaBlocks = ToCommaText({"--[", "]", "65280", "\"", "\"", "16776960", "'", "'", "16776960"});
    const std::vector<std::string> block = FromCommaText(ini_.ReadString(section, "Block", lua ? luaBlocks : ""));
    pane.ClearBrackets();
    for (size_t i = 0; i + 2 < block.size(); i += 3) {
        char* end = nullptr;
        const unsigned long colour = std::strtoul(block[i + 2].c_str(), &end, 10);
        pane.AddBracket(block[i], block[i + 1], static_cast<std::uint32_t>(colour));
    }
    const std::string luaWords =
        "and,break,do,else,elseif,end,false,for,function,if,in,local,nil,not,or,repeat,return,then,true,until,while";
    const std::string defaultWords = lua ? luaWords : ToCommaText(MainEd->ReserveWordList());
    pane.SetReserveWordList(FromCommaText(ini_.ReadString(section, "ReserveWord", defaultWords)));
    pane.SetTabSpaceCount(lua ? 4 : 8);
}

void TPekForm::SaveHighlight(int sheetIndex)
{
    const Sheet& sheet = *sheets_.at(size_t(sheetIndex));
    const std::string section = HighlightSection(sheet.fileName, sheetIndex);
    const THighlightRules& rules = sheet.pane->Model().HighlightRules();
    ini_.WriteString(section, "Cmt", rules.Commenter);
    if (!rules.Brackets.empty()) {
        std::vector<std::string> block;
        for (const auto& item : rules.Brackets) {
            block.push_back(item.LeftBracket);
            block.push_back(item.RightBracket);
            block.push_back(std::to_string(item.Color));
        }
        ini_.WriteString(section, "Block", ToCommaText(block));
    }
    ini_.WriteString(section, "ReserveWord", ToCommaText(sheet.pane->ReserveWordList()));
}

void TPekForm::UpdateCaptions()
{
    TPekForm& main = MainWindow();
    std::vector<TPekForm*> windows{&main};
    for (TPekForm* shadow : main.ShadowWindows()) windows.push_back(shadow);
    for (TPekForm* window : windows) {
        const int active = window->ActiveSheet();
        if (active < 0) continue;
        const Sheet& sheet = *window->sheets_[size_t(active)];
        std::string suffix;
        if (const auto port = window->PortOf(sheet)) suffix = "-COM" + std::to_string(port->PortNo());
        const std::string fileName = sheet.fileName;
        window->setWindowTitle(Cp932ToQString(fileName + suffix));
        const std::string stem = FileNameFromSystem(std::filesystem::path(FileNameToSystem(fileName)).stem().string());
        window->PageControl1->setTabText(active, Cp932ToQString(stem + suffix).replace('&', "&&"));
        if (window->copyData_) window->copyData_->SetCaption(window->windowTitle().toStdString());
    }
}

void TPekForm::FileCloseComActExecute()
{
    if (shadow_) {
        ShowMessage("メインウィンドウでないとポートは閉じれません", "Pek", MB_OK);
        return;
    }
    const int active = ActiveSheet();
    if (active < 0) return;
    Sheet& sheet = *sheets_[size_t(active)];
    if (sheet.reconnect) {
        sheet.reconnect->stop();
        sheet.reconnect->deleteLater();
        sheet.reconnect = nullptr;
    }
    if (sheet.port) {
        sheet.port->Close();
        sheet.port.reset();
    }
    UpdateCaptions();
    RefreshLogButton();
}

void TPekForm::FileCloseActExecute()
{
    if (PageControl1->count() <= 1) {
        close();
        return;
    }
    const int active = ActiveSheet();
    if (!shadow_) FileCloseComActExecute();
    auto sheet = std::move(sheets_[size_t(active)]);
    sheets_.erase(sheets_.begin() + active);
    PageControl1->removeTab(active);
    if (sheet->reconnect) sheet->reconnect->deleteLater();
    sheet->page->deleteLater();
    PageControl1->setCurrentIndex(std::max(0, active - 1));
    PageControl1Change();
}

TPekForm* TPekForm::ViewOtherWinActExecute()
{
    const int active = ActiveSheet();
    if (active < 0) return nullptr;
    // The new window shows this window's active sheet; the main window keeps the list of shadows.
    TPekForm& main = MainWindow();
    auto* shadow = new TPekForm(iniPath_, main, main.nextShadowNumber_++);
    main.shadows_.emplace_back(shadow);
    const Sheet& sheet = *sheets_[size_t(active)];
    shadow->AddSheet(Untitled());
    Sheet& copy = *shadow->sheets_.back();
    copy.fileName = sheet.fileName;
    copy.sharedPort = PortOf(sheet);
    shadow->ExtraMenu1->setText(Ui("【影】"));
    EditorExProp1->Assign(*sheet.pane);
    EditorExProp1->AssignTo(*copy.pane);
    copy.pane->ShareTextWith(*sheet.pane);
    UpdateCaptions();
    shadow->show();
    return shadow;
}

std::vector<TPekForm*> TPekForm::ShadowWindows() const
{
    std::vector<TPekForm*> windows;
    for (const auto& shadow : shadows_)
        if (shadow) windows.push_back(shadow.data());
    return windows;
}

int TPekForm::ActiveSheet() const
{
    return PageControl1 ? PageControl1->currentIndex() : -1;
}

void TPekForm::SetActiveSheet(int sheet)
{
    if (sheet >= 0 && sheet < SheetCount()) PageControl1->setCurrentIndex(sheet);
}

std::shared_ptr<TCommXEx> TPekForm::PortOf(const Sheet& sheet) const
{
    return sheet.port ? sheet.port : sheet.sharedPort.lock();
}

TCommXEx* TPekForm::SheetPort(int sheet) const
{
    if (sheet < 0 || sheet >= SheetCount()) return nullptr;
    return PortOf(*sheets_[size_t(sheet)]).get();
}

TEditorEx* TPekForm::SheetPane(int sheet) const
{
    if (sheet < 0 || sheet >= SheetCount()) return nullptr;
    return sheets_[size_t(sheet)]->pane;
}

TEditorEx* TPekForm::ActivePane() const
{
    return SheetPane(ActiveSheet());
}

bool TPekForm::PanesReadOnly() const
{
    return EditReadOnlyAct->isChecked();
}

void TPekForm::PageControl1Change()
{
    if (closing_) return;
    if (TEditorEx* pane = ActivePane()) pane->setFocus();
    UpdateCaptions();
    RefreshLogButton();
}

void TPekForm::RefreshLogButton()
{
    const TCommXEx* port = SheetPort(ActiveSheet());
    logImage_ = port && port->LogOpened() ? 25 : 24;
    const QIcon icon = ButtonImage(logImage_);
    FileLogAct->setIcon(icon);
    LogBtn->setIcon(icon);
}

// ---- closing ------------------------------------------------------------------------------

void TPekForm::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TPekForm::FormClose()
{
    if (closing_) return;
    closing_ = true;
    if (!shadow_) {
        for (const auto& shadow : shadows_)
            if (shadow) shadow->close();
        try {
            ini_.WriteInteger(EnvSection(), "Top", y());
            ini_.WriteInteger(EnvSection(), "Left", x());
            ini_.WriteInteger(EnvSection(), "Height", height());
            ini_.WriteInteger(EnvSection(), "Width", width());
            ini_.WriteBool(EnvSection(), "Echo", echo_);
            ini_.WriteBool(EnvSection(), "CtrlCode", ctrlCode_);
            ini_.WriteBool(EnvSection(), "AutoColOff", autoColOff_);
            for (int k = 0; ini_.SectionExists(SheetSection(k)); ++k) ini_.EraseSection(SheetSection(k));
        } catch (const std::exception& error) {
            ShowError(error);
        }
        for (int k = 0; k < SheetCount(); ++k) {
            try {
                SavePortSettings(k);
                SaveHighlight(k);
            } catch (const std::exception& error) {
                ShowError(error);
            }
            if (auto& port = sheets_[size_t(k)]->port) {
                port->Close();
                port.reset();
            }
        }
    }
}

// ---- receive display ----------------------------------------------------------------------

int TPekForm::SheetOfPort(const TCustomCommX& port) const
{
    for (size_t i = 0; i < sheets_.size(); ++i)
        if (sheets_[i]->port.get() == &port) return int(i);
    return -1;
}

void TPekForm::CommX1Receive(TCustomCommX& sender, std::int32_t receiveSize)
{
    auto& port = static_cast<TCommXEx&>(sender);
    if (port.Receiving()) return;
    const int sheetIndex = SheetOfPort(port);
    if (sheetIndex < 0) return;
    // Read may serve other events while it waits, and one of them may close this sheet: the port
    // object stays alive until this call ends, and the sheet is looked up again after every read.
    const std::shared_ptr<TCommXEx> keepPort = sheets_[size_t(sheetIndex)]->port;
    port.SetReceiving(true);
    struct Guard {
        TCommXEx& port;
        ~Guard() { port.SetReceiving(false); }
    } guard{port};
    TEditorEx& pane = *sheets_[size_t(sheetIndex)]->pane;
    const QPointer<TEditorEx> paneAlive(&pane);
    const bool textLog = port.LogRcv() && !port.LogBin();
    // A flood is shown chunk by chunk but appended, logged and scrolled once per call; the call
    // returns after a slice of time so painting and input keep up. Unread bytes stay in the port
    // and the receive thread reports them again at once.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(8);
    std::optional<PaneAppend> append;
    append.emplace(*this, pane, &port, textLog);
    std::int32_t remaining = receiveSize;
    char chunk[256];
    while (remaining > 0) {
        // Asking for no more than the queue holds returns at once.
        const std::int32_t n = port.Read(chunk, std::min<std::int32_t>(255, remaining));
        if (n < 1) break;
        const int current = SheetOfPort(port);
        if (current < 0 || !paneAlive || sheets_[size_t(current)]->pane != &pane) {
            append->Discard();
            return;
        }
        Sheet& sheet = *sheets_[size_t(current)];
        port.RingBuf().Put(chunk, n);
        if (port.LogBin() && port.LogRcv()) WriteLog(port, std::string_view(chunk, size_t(n)));
        int length = n;
        if (ctrlCode_) {
            if (chunk[0] == 8) {
                append.reset();  // the pane must hold everything before the backspace acts on it
                RemoveLastCharacter(pane);
                append.emplace(*this, pane, &port, textLog);
            }
            length = ControlCodeFilter(chunk, length);
        }
        append->Add(sheet.leadByte.Take(std::string_view(chunk, size_t(length))));
        if (!port.IsOpen() || std::chrono::steady_clock::now() >= deadline) break;
        remaining = port.InQueCount();
    }
    append.reset();
    if (paneAlive) ScrollToEnd(pane);
}

void TPekForm::RemoveLastCharacter(TEditorEx& pane)
{
    TEditorLines& lines = pane.Model().Lines();
    const TTextPos end = lines.EndPos();
    if (end.byte == 0) return;
    // The whole last character: half a double-byte character would garble the line.
    const std::string_view last = lines.LineView(end.line);
    long long start = 0;
    long long previous = 0;
    while (start < end.byte) {
        previous = start;
        start += IsDBCSLeadByte(static_cast<unsigned char>(last[size_t(start)])) ? 2 : 1;
    }
    lines.Replace({end.line, previous}, end, "");
}

void TPekForm::CommX1Error(TCustomCommX& sender, std::int32_t errorState)
{
    const int sheetIndex = SheetOfPort(sender);
    if (sheetIndex < 0) return;
    const bool log = static_cast<TCommXEx&>(sender).LogMsg();
    if (errorState & 8) ShowText(sheetIndex, Sjis("フレーミングエラー\r\n"), log);
    if (errorState & 2) ShowText(sheetIndex, Sjis("バッファオーバーラン\r\n"), log);
    if (errorState & 4) ShowText(sheetIndex, Sjis("パリティエラー\r\n"), log);
}

void TPekForm::CommX1Disconnect(TCustomCommX& sender)
{
    const int sheetIndex = SheetOfPort(sender);
    if (sheetIndex < 0) return;
    const bool log = static_cast<TCommXEx&>(sender).LogMsg();
    ShowText(sheetIndex, Sjis("\r\n通信ポートが切断されました\r\n"), log);
    WatchForReconnect(sheetIndex);
}

void TPekForm::WatchForReconnect(int sheetIndex)
{
    Sheet& sheet = *sheets_[size_t(sheetIndex)];
    if (!sheet.reconnect) {
        sheet.reconnect = new QTimer(this);
        sheet.reconnect->setInterval(500);
        Sheet* watched = &sheet;
        connect(sheet.reconnect, &QTimer::timeout, this, [this, watched] {
            const auto it = std::find_if(sheets_.begin(), sheets_.end(), [&](const auto& s) { return s.get() == watched; });
            if (it == sheets_.end() || !watched->port || watched->port->IsOpen()) {
                if (watched->reconnect) watched->reconnect->stop();
                return;
            }
            const std::string path = PortsFromSettings(iniPath_)(watched->port->PortNo());
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0) return;
            try {
                watched->port->Open();
            } catch (const ECommError&) {
                return;  // not ready yet; try again on the next tick
            }
            watched->reconnect->stop();
            ShowText(int(it - sheets_.begin()), Sjis("通信ポートを再接続しました\r\n"), watched->port->LogMsg());
        });
    }
    sheet.reconnect->start();
}

void TPekForm::ShowText(int sheetIndex, std::string_view text, bool log)
{
    TEditorEx* pane = SheetPane(sheetIndex);
    if (!pane) return;
    AppendToPane(*pane, SheetPort(sheetIndex), log, text);
    ScrollToEnd(*pane);
}

void TPekForm::AppendToPane(TEditorEx& pane, TCommXEx* port, bool log, std::string_view text)
{
    PaneAppend append(*this, pane, port, log);
    append.Add(text);
}

TPekForm::PaneAppend::PaneAppend(TPekForm& form, TEditorEx& pane, TCommXEx* port, bool log)
    : form_(form), pane_(pane), port_(port), log_(log && port), timeTyp_(port ? port->TimeTyp() : 0)
{
    // A new line starts where the text ends with a line break. (A line that fills exactly a row
    // also ends at a row start, but it is not a new line and gets no stamp.)
    const TEditorLines& lines = pane.Model().Lines();
    stamper_.Reset(lines.EndPos().byte == 0, lines.EndsWithPendingCr());
}

void TPekForm::PaneAppend::Add(std::string_view text)
{
    // A sheet without a port has no time stamps and no log.
    const std::string prefix = TimeStampPrefix(timeTyp_, timeGetTime(), std::time(nullptr));
    stamper_.Add(text, prefix, text_);
}

void TPekForm::PaneAppend::Discard()
{
    text_.clear();
    discarded_ = true;
}

void TPekForm::PaneAppend::Flush()
{
    if (discarded_) return;
    if (text_.empty()) return;
    pane_.Model().AppendText(text_, true);
    if (log_) form_.WriteLog(*port_, text_);
    text_.clear();
}

void TPekForm::WriteLog(TCommXEx& port, std::string_view text)
{
    if (!port.LogOpened()) return;
    try {
        port.LogWrite(text);
    } catch (const std::exception& error) {
        // A full disk or a pulled stick: the log closes, and the user hears of it once, after
        // the receive or send in progress has finished.
        try {
            port.LogClose();
        } catch (const std::exception&) {
        }
        const std::string message = Cp932ToUtf8(error.what());
        QTimer::singleShot(0, this, [this, message] {
            RefreshLogButton();
            ShowMessage(message, "Pek", MB_OK | MB_ICONERROR);
        });
    }
}

void TPekForm::ShowMessageOnActiveSheet(std::string_view text)
{
    const int active = ActiveSheet();
    const TCommXEx* port = SheetPort(active);
    ShowText(active, text, port && port->LogMsg());
}

void TPekForm::ScrollToEnd(TEditorEx& pane)
{
    pane.Model().ScrollToEnd();
}

// ---- command line -------------------------------------------------------------------------

void TPekForm::ExecCommand(int sheetIndex, std::string text, bool fromUser)
{
    // Sending may serve events while it waits for room, and the window may close meanwhile.
    const QPointer<TPekForm> self(this);
    const bool echo = echo_;
    struct Restore {
        const QPointer<TPekForm>& self;
        bool value;
        ~Restore()
        {
            if (self) self->echo_ = value;
        }
    } restore{self, echo};
    if (!text.empty() && text[0] == '@') {
        echo_ = false;
        text.erase(0, 1);
    }
    const std::shared_ptr<TCommXEx> port =
        sheetIndex >= 0 && sheetIndex < SheetCount() ? PortOf(*sheets_[size_t(sheetIndex)]) : nullptr;
    if (echo_) ShowText(sheetIndex, text + "\r\n", port && port->LogTrs() && !port->LogBin());
    // A command with line breaks (only another program can send one) stays out of the history:
    // it could not be kept in the settings file.
    if (fromUser && !text.empty() && text.find_first_of("\r\n") == std::string::npos) {
        history_.Add(text);
        InpCmdCbx->clear();
        for (const auto& item : history_.Items()) InpCmdCbx->addItem(Cp932ToQString(item));
        InpCmdCbx->setCurrentIndex(-1);
        InpCmdCbx->setEditText(QString());
        SaveHistory();
    }
    if (!text.empty() && text[0] == '!') {
        std::string fileName = text.substr(1);
        if (!fileName.empty() && fileName[0] == '!') fileName.erase(0, 1);
        if (!FileExists(fileName)) {
            ShowMessage(Cp932ToUtf8(fileName) + " が見つかりません。", "ファイルエラー", MB_OK);
            return;
        }
        ShowMessage("マクロを実行できません: " + Cp932ToUtf8(fileName) + "\r\nマクロエンジンはこの版にはまだありません。",
                    "Pek", MB_OK | MB_ICONWARNING);
        return;
    }
    if (port) {
        port->SendLine(text);
        if (!self) return;
        if (port->LogBin() && port->LogTrs() && port->LogOpened())
            WriteLog(*port, TimeStampPrefix(port->TimeTyp(), timeGetTime(), std::time(nullptr)) + text + "\r");
        return;
    }
    ShowMessage("通信ポートが開いていません", "Pek", MB_OK);
}

void TPekForm::SaveHistory()
{
    try {
        MainWindow().ini_.WriteString(EnvSection(), "InpCmd", ToCommaText(history_.Items()));
    } catch (const std::exception& error) {
        ShowError(error);
    }
}

void TPekForm::RunRunCmdActExecute()
{
    std::string text;
    if (!Utf8ToCp932Checked(InpCmdCbx->currentText().toStdString(), text)) {
        ShowMessage("コード932で表せない文字は送信できません", "Pek", MB_OK | MB_ICONERROR);
        return;
    }
    ExecCommand(ActiveSheet(), text, true);
}

bool TPekForm::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == InpCmdCbx || watched == InpCmdCbx->lineEdit()) && event->type() == QEvent::KeyPress) {
        auto& key = static_cast<QKeyEvent&>(*event);
        return InpCmdCbxKeyDown(key);
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TPekForm::InpCmdCbxKeyDown(QKeyEvent& key)
{
    if (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) {
        if (key.modifiers() & Qt::ControlModifier)
            RunCallCmdAct->trigger();
        else
            RunRunCmdAct->trigger();
        return true;  // the key itself is swallowed
    }
    if (key.key() == Qt::Key_Escape) {
        InpCmdCbx->setEditText(QString());
        return true;
    }
    return false;
}

void TPekForm::AttachPaneHandlers(TEditorEx& pane)
{
    pane.OnKeyDown = [this](TEditor*, int& key, Qt::KeyboardModifiers shift) { EdKeyDown(key, shift); };
    pane.OnKeyPress = [this](TEditor*, std::string& key) { EdKeyPress(key); };
    // One line per wheel notch.
    pane.OnMouseWheelDown = [](TEditor* sender, Qt::KeyboardModifiers, QPoint, bool& handled) {
        sender->SetTopRow(sender->TopRow() + 1);
        handled = true;
    };
    pane.OnMouseWheelUp = [](TEditor* sender, Qt::KeyboardModifiers, QPoint, bool& handled) {
        sender->SetTopRow(std::max(0LL, sender->TopRow() - 1));
        handled = true;
    };
}

void TPekForm::EdKeyDown(int& key, Qt::KeyboardModifiers shift)
{
    // Shift is not counted: it only makes capitals, which belong in the command box too.
    const Qt::KeyboardModifiers held = shift & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (!PanesReadOnly() || held != Qt::NoModifier) return;
    if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta) return;
    InpCmdCbx->setFocus();
    InpCmdCbx->lineEdit()->end(false);
}

void TPekForm::EdKeyPress(std::string& key)
{
    // The key-down handler moved the focus; the character itself follows it into the command box.
    if (InpCmdCbx->lineEdit()->hasFocus() && key.size() == 1 && key[0] >= 32 && key[0] <= 126) {
        InpCmdCbx->setEditText(InpCmdCbx->currentText() + QChar(key[0]));
        InpCmdCbx->lineEdit()->end(false);
    }
    if (PanesReadOnly()) key.clear();
}

bool TPekForm::HandleCopyData(std::uint32_t dwData, const std::string& payload)
{
    const std::string text = CopyDataString(payload);
    try {
        switch (dwData) {
        case 0:
            // As if typed and entered, but with the bytes as sent: the box shows them, the
            // command processor gets them unconverted.
            InpCmdCbx->setEditText(Cp932ToQString(text));
            ExecCommand(ActiveSheet(), text, true);
            return true;
        case 2:
            if (TEditorEx* pane = ActivePane()) LoadFileIntoPane(*pane, text);
            return true;
        case 3:
            if (TEditorEx* pane = ActivePane()) SavePaneToFile(*pane, text);
            return true;
        case 4:
            EditClearActExecute();
            return true;
        case 5: {
            char* end = nullptr;
            const long index = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || !end || *end != '\0' || index < 0 || index >= SheetCount()) {
                ShowMessage("指定されたページ(" + Cp932ToUtf8(text) + ")は存在しません。", "Pek", MB_OK);
                return false;
            }
            SetActiveSheet(int(index));
            return true;
        }
        default:
            ShowMessage("dwData=" + std::to_string(dwData) + "は未対応です。", "Pek", MB_OK);
            return false;
        }
    } catch (const std::exception& error) {
        ShowError(error);
        return false;
    }
}

// ---- logging ------------------------------------------------------------------------------

void TPekForm::FileLogActExecute()
{
    TCommXEx* port = SheetPort(ActiveSheet());
    if (!port) return;
    if (port->LogOpened()) {
        try {
            port->LogClose();
        } catch (const std::exception& error) {
            ShowError(error);
        }
    } else {
        FileDialogRequest request;
        request.caption = Ui("ログ");
        request.fileName = Cp932ToQString(DefaultLogName());
        request.defaultSuffix = "log";
        request.filter = QtFilter(Ui("ログファイル (*.log)|*.log|全てのファイル (*.*)|*.*"));
        request.extraPanel = LogOptPnl;
        if (const auto name = ChooseFile(true, request)) {
            try {
                port->LogOpen(*name, RcvCBox->isChecked(), TrsCBox->isChecked(), MsgCBox->isChecked(),
                              BinCBox->isChecked());
            } catch (const std::exception& error) {
                ShowError(error);
            }
        }
    }
    RefreshLogButton();
}

// ---- window commands ----------------------------------------------------------------------

void TPekForm::LoadFileIntoPane(TEditorEx& pane, const std::string& fileName)
{
    pane.LoadFromFile(fileName);
}

void TPekForm::SavePaneToFile(TEditorEx& pane, const std::string& fileName)
{
    pane.SaveToFile(fileName);
}

std::optional<std::string> TPekForm::ChooseFile(bool save, FileDialogRequest request)
{
    const auto chosen = save ? Dialogs().SaveFileName(this, request) : Dialogs().OpenFileName(this, request);
    if (!chosen) return std::nullopt;
    // Names are CP932 inside the program; one it cannot hold is refused, never mangled.
    std::string name;
    if (!Utf8ToCp932Checked(chosen->toStdString(), name) || name.find_first_of("\r\n") != std::string::npos) {
        ShowMessage("このファイル名はコード932で表せません: " + chosen->toStdString(), "Pek", MB_OK | MB_ICONERROR);
        return std::nullopt;
    }
    return name;
}

namespace {

FileDialogRequest FilteredRequest(const char* utf8PipeFilter)
{
    FileDialogRequest request;
    const QString filter = Ui(utf8PipeFilter);
    request.filter = QtFilter(filter);
    request.selectedFilter = QtFilterEntry(filter, 1);
    return request;
}

const char* const kTextFilter = "すべてのファイル(*.*)|*.*|Logファイル(*.log)|*.log";

}  // namespace

void TPekForm::FileOpenActExecute()
{
    const auto name =
        ChooseFile(false, FilteredRequest("すべてのファイル(*.*)|*.*|Logファイル(*.log)|*.log|Luaファイル(*.lua)|*.lua"));
    if (!name) return;
    AddSheet(*name);
    LoadHighlight(SheetCount() - 1);
}

void TPekForm::FileLoadActExecute()
{
    TEditorEx* pane = ActivePane();
    if (!pane) return;
    const auto name = ChooseFile(false, FilteredRequest(kTextFilter));
    if (!name) return;
    try {
        LoadFileIntoPane(*pane, *name);
    } catch (const std::exception& error) {
        ShowError(error);
    }
}

bool TPekForm::FileSaveActExecute()
{
    const int active = ActiveSheet();
    if (active < 0) return false;
    const Sheet& sheet = *sheets_[size_t(active)];
    if (sheet.fileName.rfind(Untitled(), 0) == 0) return FileSaveAsActExecute();
    try {
        SavePaneToFile(*sheet.pane, sheet.fileName);
        return true;
    } catch (const std::exception& error) {
        ShowError(error);
        return false;
    }
}

bool TPekForm::FileSaveAsActExecute()
{
    const int active = ActiveSheet();
    if (active < 0) return false;
    Sheet& sheet = *sheets_[size_t(active)];
    FileDialogRequest request = FilteredRequest(kTextFilter);
    request.defaultSuffix = "log";
    auto name = ChooseFile(true, request);
    if (!name) return false;
    if (std::filesystem::path(FileNameToSystem(*name)).extension().empty()) *name += ".log";
    try {
        SavePaneToFile(*sheet.pane, *name);
    } catch (const std::exception& error) {
        ShowError(error);
        return false;
    }
    sheet.fileName = *name;
    UpdateCaptions();
    return true;
}

void TPekForm::FileCloseToNewActExecute()
{
    const int active = ActiveSheet();
    if (active < 0) return;
    const int answer = ShowMessage("閉じる前にセーブしますか？", "確認メッセージ", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return;
    if (answer == IDYES && !FileSaveAsActExecute()) return;
    Sheet& sheet = *sheets_[size_t(active)];
    sheet.pane->Model().Clear();
    sheet.fileName = Untitled();
    try {
        MainWindow().ini_.WriteString(SheetSection(active), "EditFileName", sheet.fileName);
    } catch (const std::exception& error) {
        ShowError(error);
    }
    UpdateCaptions();
}

void TPekForm::EditClearActExecute()
{
    const int active = ActiveSheet();
    if (TEditorEx* pane = ActivePane()) pane->Model().Clear();
    if (TCommXEx* port = SheetPort(active)) port->RingBuf().Clear();
}

// ---- messages -----------------------------------------------------------------------------

int TPekForm::ShowMessage(const std::string& utf8Text, const std::string& utf8Caption, unsigned flags)
{
    return Dialogs().MessageBox(this, Ui(utf8Text), Ui(utf8Caption), flags);
}

void TPekForm::ShowError(const std::exception& error)
{
    // Our exceptions carry CP932 text; the standard library's carry ASCII, which CP932 leaves alone.
    ShowMessage(Cp932ToUtf8(error.what()), "Pek", MB_OK | MB_ICONERROR);
}

}  // namespace pek

#include "terminal/main_u.h"

#include "editor/EditorEx.h"
#include "editor/EditorExProp.h"
#include "platform/CodePage.h"
#include "platform/CopyData.h"
#include "platform/DialogService.h"
#include "platform/Profile.h"
#include "serial/CommXEx.h"
#include "terminal/ButtonImages.h"
#include "terminal/Captions.h"
#include "terminal/EditorAllCodec.h"
#include "terminal/PaneFiles.h"
#include "terminal/PortWatch.h"
#include "terminal/SheetSettings.h"
#include "terminal/WindowGroup.h"
#include "terminal/WindowPanels.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace pek {

TPekForm::TPekForm(std::string iniPath, QWidget* parent)
    : QMainWindow(parent), group_(std::make_shared<WindowGroup>(std::move(iniPath))), actions_(this),
      commands_(CommandWindowOfThis()), receive_(ReceiveTargets(), [this](TCommXEx& p, std::string_view t) { WriteLog(p, t); })
{
    group_->SetMain(*this);
    FormCreate();
    portWatch_ = new PortWatch(PortsFromSettings(IniPath()), this);
}

TPekForm::TPekForm(std::shared_ptr<WindowGroup> group, int windowNumber, const Sheet& source)
    : QMainWindow(nullptr), group_(std::move(group)), windowNumber_(windowNumber), actions_(this),
      commands_(CommandWindowOfThis()), receive_(ReceiveTargets(), [this](TCommXEx& p, std::string_view t) { WriteLog(p, t); })
{
    setAttribute(Qt::WA_DeleteOnClose);
    FormCreate();
    AddSheet(UntitledName());
    Sheet& copy = *sheets_.At(0);
    copy.fileName = source.fileName;
    copy.sharedPort = source.Port();
    ExtraMenu1->setText(Ui("【影】"));
    EditorExProp1->Assign(*source.pane);
    EditorExProp1->AssignTo(*copy.pane);
    copy.pane->ShareTextWith(*source.pane);
}

TPekForm::~TPekForm()
{
    // Ports stop before the panes they write to go away.
    for (int k = 0; k < sheets_.Count(); ++k)
        if (const auto& port = sheets_.At(k)->port) {
            port->OnReceive = nullptr;
            port->OnError = nullptr;
            port->OnDisconnect = nullptr;
            port->Close();
        }
    if (!IsShadow())
        for (TPekForm* shadow : group_->Shadows()) delete shadow;
}

void TPekForm::FormCreate()
{
    setWindowTitle("Pek");
    resize(453, 573);
    AttachOwnActions();
    actions_.FillMenuBar(*menuBar());
    ExtraMenu1 = menuBar()->addAction(QString());
    ExtraMenu1->setObjectName("ExtraMenu1");

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setDocumentMode(true);
    PageControl1->tabBar()->setContextMenuPolicy(Qt::ActionsContextMenu);
    PageControl1->tabBar()->addAction(actions_.Find("FileCloseAct"));
    PageControl1->tabBar()->addAction(actions_.Find("FileCloseComAct"));
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] { PageControl1Change(); });
    layout->addWidget(PageControl1, 1);
    const CommandPanelWidgets command = BuildCommandPanel(*this, actions_, int(CommandHistory::kMaxEntries));
    CmdPnl = command.panel;
    InpCmdCbx = command.box;
    OkBtn = command.ok;
    AsciiCodeBtn = command.ascii;
    CallBtn = command.call;
    LogBtn = command.log;
    InpCmdCbx->installEventFilter(this);
    InpCmdCbx->lineEdit()->installEventFilter(this);
    layout->addWidget(CmdPnl);
    setCentralWidget(central);
    const LogOptionWidgets log = BuildLogOptionPanel(*this);
    LogOptPnl = log.panel;
    RcvCBox = log.rcv;
    TrsCBox = log.trs;
    MsgCBox = log.msg;
    BinCBox = log.bin;

    // The template pane: every new pane copies its properties.
    MainEd = new TEditorEx(this);
    MainEd->setObjectName("MainEd");
    MainEd->hide();
    EditorExProp1 = std::make_unique<TEditorExProp>();

    const ProfileFile& ini = Ini();
    const WindowSettings settings = ReadWindowSettings(ini);
    if (!IsShadow()) move(settings.left, settings.top);
    resize(settings.width, settings.height);
    if (IsShadow())
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    commands_.SetEcho(settings.echo);
    receive_.SetCtrlCode(settings.ctrlCode);
    autoColOff_ = settings.autoColOff;
    commands_.History().SetItems(FromCommaText(ini.ReadString(EnvSection(), "InpCmd", "")));
    ShowHistory();

    if (ini.ValueExists(EnvSection(), "EditorAll_c")) {
        EditorExProp1->Assign(*MainEd);
        const std::string bytes = ReadEditorAll(ini, EnvSection());
        // A value that is not ours (the file can be edited by hand) leaves the template as it is.
        try {
            if (!bytes.empty()) {
                EditorExProp1->LoadFromBytes(bytes);
                EditorExProp1->AssignTo(*MainEd);
            }
        } catch (const EEditorPropError&) {
        }
    }
    const bool readOnly = ini.ReadBool("Editor", "ReadOnly", true);
    MainEd->SetReadOnly(readOnly);
    EditReadOnlyAct->setChecked(readOnly);

    copyData_ = new CopyDataServer(
        windowNumber_, [this](std::uint32_t dwData, const std::string& payload) { return HandleCopyData(dwData, payload); },
        this);
    RefreshLogButton();
}

// ---- sheets -------------------------------------------------------------------------------

std::shared_ptr<TCommXEx> TPekForm::NewPort()
{
    auto port = std::make_shared<TCommXEx>();
    port->SetPortResolver(PortsFromSettings(IniPath()));
    port->SetBitRate(19200);
    port->SetFlowCtrl(cfcNone);
    port->OnReceive = [this](TCustomCommX& sender, std::int32_t size) { CommX1Receive(sender, size); };
    port->OnError = [this](TCustomCommX& sender, std::int32_t state) { CommX1Error(sender, state); };
    port->OnDisconnect = [this](TCustomCommX& sender) { CommX1Disconnect(sender); };
    return port;
}

void TPekForm::LoadSheets()
{
    const ProfileFile& ini = Ini();
    int k = 0;
    do {
        const std::string section = SheetSection(k);
        const bool portOpen = ini.ReadBool(section, "ComPortOpen", true);
        const std::string fileName = ini.ReadString(section, "EditFileName", UntitledName());
        if (portOpen) {
            FileOpenComActExecute();
            Sheet& sheet = *sheets_.At(sheets_.Count() - 1);
            if (fileName != UntitledName()) {
                try {
                    LoadPaneFile(sheet.pane->Model(), fileName);
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
    } while (ini.SectionExists(SheetSection(k)));
    SetActiveSheet(0);
    UpdateCaptions();
}

void TPekForm::AddSheet(const std::string& fileName)
{
    Sheet& sheet = sheets_.Add();
    sheet.page = new QWidget(PageControl1);
    auto* layout = new QVBoxLayout(sheet.page);
    layout->setContentsMargins(0, 0, 0, 0);
    sheet.pane = new TEditorEx(sheet.page);
    EditorExProp1->Assign(*MainEd);
    EditorExProp1->AssignTo(*sheet.pane);
    sheet.pane->SetReadOnly(EditReadOnlyAct->isChecked());
    sheet.pane->SetIsAutoColScroll(!autoColOff_);
    layout->addWidget(sheet.pane);
    AttachPaneHandlers(*sheet.pane);
    PageControl1->addTab(sheet.page, QString());
    PageControl1->setCurrentWidget(sheet.page);
    if (fileName != UntitledName()) {
        try {
            LoadPaneFile(sheet.pane->Model(), fileName);
            sheet.fileName = fileName;
        } catch (const std::exception&) {
            ShowMessage(Cp932ToUtf8(fileName) + "\r\nを開くことができませんでした。", "Pek", MB_OK | MB_ICONERROR);
        }
    }
    UpdateCaptions();
}

void TPekForm::FileOpenComActExecute()
{
    AddSheet(UntitledName());
    const int index = SheetCount() - 1;
    LoadHighlight(index);
    Sheet& sheet = *sheets_.At(index);
    const int portNo = sheets_.LowestFreePortNo();
    if (sheet.port)
        sheet.port->Close();
    else
        sheet.port = NewPort();
    try {
        if (!LoadPortSettings(index)) sheet.port->SetPortNo(portNo);
        sheet.port->Open();
    } catch (const ECommError& error) {
        ShowMessage(Cp932ToUtf8(error.Message()), "Pek", MB_OK | MB_ICONERROR);
        // The adapter may simply not be plugged in yet.
        WatchPort(sheet.port);
    }
    UpdateCaptions();
}

bool TPekForm::LoadPortSettings(int index)
{
    Sheet* sheet = sheets_.At(index);
    if (!sheet) throw ECommError(Sjis("Sheetが不足しています"));
    if (!sheet->port) throw ECommError(Sjis("Commオブジェクトがありません"));
    sheet->port->Close();
    const bool exists = pek::LoadPortSettings(Ini(), SheetSection(index), *sheet->port);
    UpdateCaptions();
    return exists;
}

void TPekForm::SavePortSettings(int index)
{
    const Sheet& sheet = *sheets_.At(index);
    pek::SavePortSettings(Ini(), SheetSection(index), sheet.port.get(), sheet.fileName);
}

void TPekForm::LoadHighlight(int index)
{
    Sheet* sheet = sheets_.At(index);
    if (!sheet) return;
    const HighlightSettings s = ReadHighlight(Ini(), sheet->fileName, index, MainEd->ReserveWordList());
    TEditorEx& pane = *sheet->pane;
    pane.SetCommenter(s.commenter);
    pane.ClearBrackets();
    for (const auto& b : s.brackets) pane.AddBracket(b.LeftBracket, b.RightBracket, b.Color);
    pane.SetReserveWordList(s.reserveWords);
    pane.SetTabSpaceCount(s.tabWidth);
}

void TPekForm::SaveHighlight(int index)
{
    const Sheet& sheet = *sheets_.At(index);
    const THighlightRules& rules = sheet.pane->Model().HighlightRules();
    WriteHighlight(Ini(), sheet.fileName, index, {rules.Commenter, rules.Brackets, sheet.pane->ReserveWordList(), 0});
}

void TPekForm::UpdateCaptions()
{
    for (TPekForm* window : group_->Windows()) window->RefreshCaption();
}

void TPekForm::RefreshCaption()
{
    const Sheet* sheet = sheets_.At(ActiveSheet());
    if (!sheet) return;
    const auto port = sheet->Port();
    const SheetCaption caption = CaptionOf(sheet->fileName, port ? std::optional<int>(port->PortNo()) : std::nullopt);
    setWindowTitle(Cp932ToQString(caption.window));
    PageControl1->setTabText(ActiveSheet(), Cp932ToQString(caption.tab).replace('&', "&&"));
    if (copyData_) copyData_->SetCaption(windowTitle().toStdString());
}

void TPekForm::FileCloseComActExecute()
{
    if (IsShadow()) {
        ShowMessage("メインウィンドウでないとポートは閉じれません", "Pek", MB_OK);
        return;
    }
    Sheet* sheet = sheets_.At(ActiveSheet());
    if (!sheet) return;
    if (sheet->port) {
        portWatch_->Unwatch(sheet->port.get());
        sheet->port->Close();
        sheet->port.reset();
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
    if (!IsShadow()) FileCloseComActExecute();
    const std::unique_ptr<Sheet> sheet = sheets_.Remove(active);
    PageControl1->removeTab(active);
    sheet->page->deleteLater();
    PageControl1->setCurrentIndex(std::max(0, active - 1));
    PageControl1Change();
}

TPekForm* TPekForm::ViewOtherWinActExecute()
{
    const Sheet* sheet = sheets_.At(ActiveSheet());
    if (!sheet) return nullptr;
    // The new window shows this window's active sheet; it belongs to the main window's group.
    auto* shadow = new TPekForm(group_, group_->NextShadowNumber(), *sheet);
    group_->AddShadow(*shadow);
    UpdateCaptions();
    shadow->show();
    return shadow;
}

std::vector<TPekForm*> TPekForm::ShadowWindows() const
{
    return IsShadow() ? std::vector<TPekForm*>{} : group_->Shadows();
}

const std::string& TPekForm::IniPath() const
{
    return group_->IniPath();
}

int TPekForm::ActiveSheet() const
{
    return PageControl1 ? PageControl1->currentIndex() : -1;
}

void TPekForm::SetActiveSheet(int sheet)
{
    if (sheets_.Contains(sheet)) PageControl1->setCurrentIndex(sheet);
}

TCommXEx* TPekForm::SheetPort(int sheet) const
{
    const Sheet* s = sheets_.At(sheet);
    return s ? s->Port().get() : nullptr;
}

TEditorEx* TPekForm::SheetPane(int sheet) const
{
    const Sheet* s = sheets_.At(sheet);
    return s ? s->pane : nullptr;
}

TEditorEx* TPekForm::ActivePane() const
{
    return SheetPane(ActiveSheet());
}

ProfileFile& TPekForm::Ini()
{
    return group_->Ini();
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
    for (const auto& handler : activeSheetHandlers_) handler(ActiveSheet());
}

void TPekForm::RefreshLogButton()
{
    const TCommXEx* port = SheetPort(ActiveSheet());
    logImage_ = port && port->LogOpened() ? 25 : 24;
    const QIcon icon = ButtonImage(logImage_);
    FileLogAct->setIcon(icon);
    LogBtn->setIcon(icon);
}

void TPekForm::SetMacroRunner(MacroRunner runner)
{
    group_->SetMacroRunner(std::move(runner));
}

void TPekForm::OnActiveSheetChanged(std::function<void(int)> handler)
{
    activeSheetHandlers_.push_back(std::move(handler));
}

void TPekForm::OnCommandDone(std::function<void()> handler)
{
    group_->OnCommandDone(std::move(handler));
}

void TPekForm::OnClosing(std::function<void()> handler)
{
    closingHandlers_.push_back(std::move(handler));
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
    if (IsShadow()) return;
    for (const auto& handler : closingHandlers_) handler();
    for (TPekForm* shadow : ShadowWindows()) shadow->close();
    // One write of the whole file: killed halfway, the old file is still whole.
    try {
        ProfileBatch batch(Ini());
        WriteWindowSettings(Ini(), {y(), x(), height(), width(), Echo(), CtrlCode(), autoColOff_});
        for (int k = 0; Ini().SectionExists(SheetSection(k)); ++k) Ini().EraseSection(SheetSection(k));
        for (int k = 0; k < SheetCount(); ++k) {
            SavePortSettings(k);
            SaveHighlight(k);
        }
        batch.Commit();
    } catch (const std::exception& error) {
        ShowError(error);
    }
    for (int k = 0; k < SheetCount(); ++k)
        if (auto& port = sheets_.At(k)->port) {
            portWatch_->Unwatch(port.get());
            port->Close();
            port.reset();
        }
}

}  // namespace pek

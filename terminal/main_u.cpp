#include "terminal/main_u.h"

#include "editor/EditorEx.h"
#include "editor/EditorExProp.h"
#include "platform/CodePage.h"
#include "platform/CopyData.h"
#include "platform/DialogService.h"
#include "platform/Profile.h"
#include "serial/CommXEx.h"
#include "terminal/ButtonImages.h"
#include "terminal/EditorAllCodec.h"
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
    // The usual keys for the next and previous tab, wherever the focus is in the window.
    const auto sheetKeys = [this](const char* name, QList<QKeySequence> keys, int step) {
        auto* action = new QAction(this);
        action->setObjectName(name);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, step] {
            const int count = PageControl1->count();
            if (count > 1) PageControl1->setCurrentIndex((PageControl1->currentIndex() + step + count) % count);
        });
        addAction(action);
    };
    sheetKeys("NextSheetAct", {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)}, +1);
    sheetKeys("PrevSheetAct",
              {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
               QKeySequence(Qt::CTRL | Qt::Key_PageUp)},
              -1);
    const CommandPanelWidgets command = BuildCommandPanel(*this, actions_, int(CommandHistory::kMaxEntries));
    CmdPnl = command.panel;
    InpCmdCbx = command.box;
    OkBtn = command.ok;
    AsciiCodeBtn = command.ascii;
    CallBtn = command.call;
    LogBtn = command.log;
    HexBtn = command.hex;
    InpCmdCbx->installEventFilter(this);
    InpCmdCbx->lineEdit()->installEventFilter(this);
    AttachHistoryKeys(*InpCmdCbx);
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
    MainEd->Model().Lines().SetMaxLines(kDefaultPaneMaxLines);
    EditorExProp1 = std::make_unique<TEditorExProp>();

    const ProfileFile& ini = Ini();
    const WindowSettings settings = ReadWindowSettings(ini);
    if (!IsShadow()) move(settings.left, settings.top);
    resize(settings.width, settings.height);
    // A first start has no stored size: wide enough that no menu hides behind the overflow arrow.
    if (!ini.ValueExists(EnvSection(), "Width")) {
        int wanted = std::max(width(), menuBar()->sizeHint().width());
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            wanted = std::min(wanted, screen->availableGeometry().width());
        resize(wanted, height());
    }
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

std::shared_ptr<TCommXEx> TPekForm::SheetPortShared(int sheet) const
{
    const Sheet* s = sheets_.At(sheet);
    return s ? s->Port() : nullptr;
}

void TPekForm::LogStateChanged()
{
    for (TPekForm* window : group_->Windows()) window->RefreshLogButton();
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
    if (ViewSplitAct != nullptr) ViewSplitAct->setChecked(SheetSplit(ActiveSheet()));
    if (ViewHexAct != nullptr) ViewHexAct->setChecked(SheetHexView(ActiveSheet()));
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

void TPekForm::OnCloseRequest(std::function<bool()> handler) { closeRequestHandlers_.push_back(std::move(handler)); }

void TPekForm::OnWindowOpened(std::function<void(TerminalHost& window)> handler)
{
    group_->OnWindowOpened(std::move(handler));
}

void TPekForm::closeEvent(QCloseEvent* event)
{
    if (!closing_ && !IsShadow()) {
        for (const auto& handler : closeRequestHandlers_) {
            if (!handler()) {
                event->ignore();
                return;
            }
        }
    }
    FormClose();
    event->accept();
}

void TPekForm::FormClose()
{
    if (closing_) return;
    closing_ = true;
    if (IsShadow()) return;
    // One write of the whole file, the features' windows included: killed halfway, the old file
    // is still whole.
    try {
        ProfileBatch batch(Ini());
        for (const auto& handler : closingHandlers_) handler();
        for (TPekForm* shadow : ShadowWindows()) shadow->close();
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

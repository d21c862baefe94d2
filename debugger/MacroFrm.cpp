#include "debugger/MacroFrm.h"

#include "debugger/EvalFrm.h"
#include "debugger/SourceFiles.h"
#include "editor/EditorEx.h"
#include "lua/LuaUtils.h"
#include "platform/CodePage.h"
#include "platform/CopyData.h"
#include "platform/DialogService.h"
#include "platform/EventWait.h"
#include "platform/Exception.h"
#include "platform/Profile.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QThread>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

namespace pek {

namespace {

// Asks for one line of text; nothing when cancelled.
std::optional<std::string> AskText(QWidget* parent, const QString& caption, const QString& prompt, const std::string& text)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(caption);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(prompt, &dialog));
    auto* edit = new QLineEdit(Cp932ToQString(text), &dialog);
    edit->setObjectName("InputEdit");
    layout->addWidget(edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (Dialogs().Exec(dialog) != QDialog::Accepted) return std::nullopt;
    return QStringToCp932(edit->text());
}

}  // namespace

TfrmMacro::TfrmMacro(ProfileFile* ini, QWidget* owner)
    : QMainWindow(nullptr), engine_(*this), view_(engine_), ini_(ini), owner_(owner), sourceProps_(LuaSourceProperties())
{
    setObjectName("frmMacro");
    setWindowTitle("Lua Debugger");
    resize(696, 587);
    BuildActions();
    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(2, 2, 2, 2);
    outer->addWidget(BuildTopBar(central));
    auto* vertical = new QSplitter(Qt::Vertical, central);
    vertical->addWidget(BuildSourceAndStack(vertical));
    vertical->addWidget(BuildWatchBand(vertical));
    vertical->addWidget(BuildMessages(vertical));
    vertical->setSizes({587 - 41 - 118 - 128, 118, 128});
    outer->addWidget(vertical);
    setCentralWidget(central);
    ConnectViews();
    BuildMenus();
    eval_ = std::make_unique<TfrmEval>(view_, this);
    {
        // The caption stays "Lua Debugger" until a tab is changed, loaded or saved.
        const QSignalBlocker quiet(pgcEdit);
        NewTab("");
    }
    RefreshTargets();
    ActionsChanged();
    FitGridColumns();
    ShowWatches();
    // print of every run (thread runs too) goes to the console, on the main thread, with CR LF.
    QPointer<TfrmMacro> console(this);
    SetLuaOutputSink([console](const char* text, std::size_t size, std::size_t count) {
        std::string out;
        // print separates its values with a backspace, shown as a tab as on a pane.
        for (std::size_t i = 0; i < size * count; ++i) {
            if (text[i] == '\n') out += '\r';
            out += text[i] == '\b' ? '\t' : text[i];
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [console, out] { if (console) console->View().AppendConsole(out); },
            QThread::currentThread() == QCoreApplication::instance()->thread() ? Qt::DirectConnection
                                                                                : Qt::QueuedConnection);
    });
}

TfrmMacro::~TfrmMacro()
{
    SetLuaOutputSink(nullptr);
    view_.OnChanged = nullptr;
    view_.OnAppended = nullptr;
    {
        // The tab widget reports each page that goes; its slots must see a list that is not mid-change.
        const QSignalBlocker quiet(pgcEdit);
        std::vector<std::unique_ptr<TEditInfo>> gone;
        gone.swap(tabs_);
    }
    // The widgets go while the engine and the view-model their slots reach are still there.
    delete centralWidget();
}

QAction* TfrmMacro::Action(const char* name) const { return findChild<QAction*>(QString::fromLatin1(name)); }

void TfrmMacro::BuildActions()
{
    const auto make = [this](const char* name, const char* caption, QKeySequence key, QStyle::StandardPixmap icon) {
        auto* action = new QAction(Ui(caption), this);
        action->setObjectName(name);
        if (!key.isEmpty()) action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        if (icon != QStyle::SP_CustomBase) action->setIcon(style()->standardIcon(icon));
        addAction(action);
        return action;
    };
    acRun = make("acRun", "実行(&R)", Qt::Key_F9, QStyle::SP_MediaPlay);
    acPause = make("acPause", "プログラムの停止(&G)", {}, QStyle::SP_MediaPause);
    acStop = make("acStop", "プログラムの終了(&E)", Qt::CTRL | Qt::Key_F2, QStyle::SP_MediaStop);
    acTrace = make("acTrace", "トレース実行(&T)", Qt::Key_F7, QStyle::SP_ArrowDown);
    acStep = make("acStep", "ステップ実行(&S)", Qt::Key_F8, QStyle::SP_ArrowForward);
    acUp = make("acUp", "呼び出し元に戻るまで実行(&U)", Qt::SHIFT | Qt::Key_F8, QStyle::SP_ArrowUp);
    acExecuteToCursor = make("acExecuteToCursor", "カーソル位置まで実行(&C)", Qt::Key_F4, QStyle::SP_CustomBase);
    acEval = make("acEval", "評価/変更(&V)...", Qt::CTRL | Qt::Key_F7, QStyle::SP_CustomBase);
    acAddWatch = make("acAddWatch", "監視式の追加(&W)...", Qt::SHIFT | Qt::Key_F5, QStyle::SP_CustomBase);
    acSetBreak = make("acSetBreak", "ブレークポイントの追加(&B)", Qt::Key_F5, QStyle::SP_CustomBase);

    connect(acRun, &QAction::triggered, this, [this] { RunCommand([this] { engine_.Run(); }); });
    connect(acTrace, &QAction::triggered, this, [this] { RunCommand([this] { engine_.Trace(); }); });
    connect(acStep, &QAction::triggered, this, [this] { RunCommand([this] { engine_.Step(); }); });
    connect(acUp, &QAction::triggered, this, [this] { RunCommand([this] { engine_.Up(); }); });
    connect(acExecuteToCursor, &QAction::triggered, this, [this] {
        TEditInfo* tab = ActiveTab();
        const std::string file = tab ? tab->FileName() : std::string();
        const int line = tab ? int(tab->Editor().Row()) : -1;
        RunCommand([this, file, line] { engine_.ExecuteToCursor(file, line); });
    });
    connect(acPause, &QAction::triggered, this, [this] { engine_.Pause(); });
    connect(acStop, &QAction::triggered, this, [this] { engine_.Stop(); });
    connect(acEval, &QAction::triggered, this, [this] {
        eval_->show();
        eval_->raise();
        eval_->activateWindow();
    });
    connect(acAddWatch, &QAction::triggered, this, [this] {
        TEditInfo* tab = ActiveTab();
        const std::string proposal = tab ? tab->Editor().SelText() : std::string();
        if (const auto name = AskText(this, Ui("監視式"), Ui("監視式の追加"), proposal)) view_.AddWatch(*name);
    });
    connect(acSetBreak, &QAction::triggered, this, [this] { SetBreakAtCaret(); });
}

QWidget* TfrmMacro::BuildTopBar(QWidget* parent)
{
    auto* top = new QWidget(parent);
    top->setFixedHeight(41);
    auto* bar = new QHBoxLayout(top);
    bar->setContentsMargins(4, 4, 4, 4);
    cbTarget = new QComboBox(top);
    cbTarget->setObjectName("cbTarget");
    cbTarget->setMinimumWidth(120);
    chkInterlock = new QCheckBox(Ui("連動"), top);
    chkInterlock->setObjectName("chkInterlock");
    chkInterlock->setChecked(true);
    bar->addWidget(cbTarget);
    bar->addWidget(chkInterlock);
    for (QAction* action : {acRun, acPause, acStop, acTrace, acStep, acUp}) {
        auto* button = new QPushButton(action->icon(), QString(), top);
        button->setToolTip(action->text());
        button->setObjectName(QStringLiteral("btn") + action->objectName().mid(2));
        connect(button, &QPushButton::clicked, action, &QAction::trigger);
        connect(action, &QAction::enabledChanged, button, &QPushButton::setEnabled);
        bar->addWidget(button);
    }
    btnEval = new QPushButton(Ui("評価/変更"), top);
    btnEval->setObjectName("btnEval");
    connect(btnEval, &QPushButton::clicked, acEval, &QAction::trigger);
    connect(acEval, &QAction::enabledChanged, btnEval, &QPushButton::setEnabled);
    bar->addWidget(btnEval);
    chkDisp = new QCheckBox(Ui("実行状況表示"), top);
    chkDisp->setObjectName("chkDisp");
    bar->addWidget(chkDisp);
    bar->addStretch();
    return top;
}

QWidget* TfrmMacro::BuildSourceAndStack(QWidget* parent)
{
    auto* upper = new QSplitter(Qt::Horizontal, parent);
    pgcEdit = new QTabWidget(upper);
    pgcEdit->setObjectName("pgcEdit");
    pgcStack = new QTabWidget(upper);
    pgcStack->setObjectName("pgcStack");
    lstStack = new QListWidget(pgcStack);
    lstStack->setObjectName("lstStack");
    tvGlobal = new QTreeView(pgcStack);
    tvGlobal->setObjectName("tvGlobal");
    tvGlobal->setHeaderHidden(true);
    tvGlobal->setUniformRowHeights(true);
    tvGlobal->setModel(&view_.Globals());
    pgcStack->addTab(lstStack, Ui("スタック"));
    pgcStack->addTab(tvGlobal, Ui("グローバル変数"));
    upper->addWidget(pgcEdit);
    upper->addWidget(pgcStack);
    upper->setSizes({696 - 185, 185});
    return upper;
}

QWidget* TfrmMacro::BuildWatchBand(QWidget* parent)
{
    auto* band = new QSplitter(Qt::Horizontal, parent);
    lstLocal = new QListWidget(band);
    lstLocal->setObjectName("lstLocal");
    pgcWatch = new QTabWidget(band);
    pgcWatch->setObjectName("pgcWatch");
    sgWatch = new QTableWidget(TDebuggerViewModel::WatchRows, 2, pgcWatch);
    sgWatch->setObjectName("sgWatch");
    sgBreak = new QTableWidget(10, 2, pgcWatch);
    sgBreak->setObjectName("sgBreak");
    sgBreak->setSelectionBehavior(QAbstractItemView::SelectRows);
    sgBreak->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (QTableWidget* grid : {sgWatch, sgBreak}) {
        grid->horizontalHeader()->hide();
        grid->verticalHeader()->hide();
        grid->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    }
    lstStackTrace = new QListWidget(pgcWatch);
    lstStackTrace->setObjectName("lstStackTrace");
    pgcWatch->addTab(sgWatch, Ui("監視式一覧"));
    pgcWatch->addTab(sgBreak, Ui("ブレークポイント一覧"));
    pgcWatch->addTab(lstStackTrace, Ui("呼び出し履歴"));
    band->addWidget(lstLocal);
    band->addWidget(pgcWatch);
    band->setSizes({312, 696 - 312});
    return band;
}

QWidget* TfrmMacro::BuildMessages(QWidget* parent)
{
    pgcMessage = new QTabWidget(parent);
    pgcMessage->setObjectName("pgcMessage");
    memMessage = new QPlainTextEdit(pgcMessage);
    memMessage->setObjectName("memMessage");
    memMessage->setReadOnly(true);
    memConsole = new QPlainTextEdit(pgcMessage);
    memConsole->setObjectName("memConsole");
    pgcMessage->addTab(memMessage, Ui("メッセージ"));
    pgcMessage->addTab(memConsole, Ui("コンソール"));
    return pgcMessage;
}

void TfrmMacro::ConnectViews()
{
    view_.OnChanged = [this](TDebuggerViewModel::Part part) { ShowPart(part); };
    view_.OnAppended = [this](TDebuggerViewModel::Part part, const std::string& text) { ShowAppended(part, text); };
    connect(pgcEdit, &QTabWidget::currentChanged, this, [this] { pgcEditChange(); });
    connect(chkInterlock, &QCheckBox::clicked, this, [this] {
        if (chkInterlock->isChecked()) cbTarget->setCurrentIndex(pgcEdit->currentIndex());
    });
    connect(chkDisp, &QCheckBox::toggled, this, [this](bool on) { view_.SetDisplayOn(on); });
    connect(pgcStack, &QTabWidget::currentChanged, this, [this](int page) { view_.SetGlobalsShown(page == 1); });
    connect(sgBreak, &QTableWidget::currentCellChanged, this, [this](int row, int) {
        if (row >= 0 && row < engine_.FBreakPoints.Count())
            GoToLine(engine_.FBreakPoints.Items(row).FileName, engine_.FBreakPoints.Items(row).Line);
    });
    connect(lstStackTrace, &QListWidget::itemClicked, this, [this] {
        const int i = lstStackTrace->currentRow();
        const int record = engine_.FCallHistory.Count() - 1 - i;
        if (i < 0 || record < 0 || record >= engine_.FCallHistory.Count()) return;
        GoToLine(engine_.FCallHistory.Items(record).FileName, engine_.FCallHistory.Items(record).Line);
    });
    // Only the name column takes the cursor; a finished edit (or Enter) evaluates the watches.
    connect(sgWatch, &QTableWidget::currentCellChanged, this, [this](int row, int column) {
        if (column != 0 && row >= 0) sgWatch->setCurrentCell(row, 0);
    });
    // The grid reports an edit once, when it is finished.
    connect(sgWatch, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() == 0) view_.SetWatchName(item->row(), QStringToCp932(item->text()));
    });
    sgWatch->installEventFilter(this);
}

void TfrmMacro::BuildMenus()
{
    QMenu* file = menuBar()->addMenu(Ui("ファイル(&F)"));
    const auto item = [this](QMenu* menu, const char* name, const char* caption, QKeySequence key, auto slot) {
        QAction* action = menu->addAction(Ui(caption));
        action->setObjectName(name);
        if (!key.isEmpty()) action->setShortcut(key);
        connect(action, &QAction::triggered, this, [this, slot] {
            try {
                (this->*slot)();
            } catch (const std::exception& e) {
                ShowErrorBox(e);
            }
        });
        return action;
    };
    item(file, "Open1", "開く(&O)...", Qt::CTRL | Qt::Key_O, &TfrmMacro::Open1Click);
    item(file, "Save1", "上書き保存(&S)", {}, &TfrmMacro::Save1Click);
    item(file, "SaveAs1", "名前を付けて保存(&A)...", {}, &TfrmMacro::SaveAs1Click);
    item(file, "V2", "すべて保存(&V)", {}, &TfrmMacro::V2Click);
    item(file, "Close1", "閉じる(&C)", {}, &TfrmMacro::Close1Click);
    item(file, "L1", "すべて閉じる(&L)", {}, &TfrmMacro::L1Click);
    file->addSeparator();
    QAction* exit = file->addAction(Ui("終了(&X)"));
    exit->setObjectName("Exit1");
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* run = menuBar()->addMenu(Ui("実行(&R)"));
    run->addAction(acRun);
    item(run, "P1", "実行時引数(&P)...", {}, &TfrmMacro::P1Click);
    run->addSeparator();
    for (QAction* action : {acStep, acTrace, acExecuteToCursor, acUp, acPause, acStop}) run->addAction(action);
    run->addSeparator();
    run->addAction(acSetBreak);
    run->addSeparator();
    run->addAction(acEval);
    run->addAction(acAddWatch);
    // The menu item's own key is Ctrl+F5; the action keeps Shift+F5.
    QAction* watchKey = new QAction(this);
    watchKey->setShortcut(Qt::CTRL | Qt::Key_F5);
    watchKey->setShortcutContext(Qt::WindowShortcut);
    connect(watchKey, &QAction::triggered, acAddWatch, &QAction::trigger);
    addAction(watchKey);

    QMenu* help = menuBar()->addMenu(Ui("ヘルプ(&H)"));
    QAction* about = help->addAction(Ui("バージョン情報(&A)..."));
    about->setObjectName("AboutMenuItem");
    connect(about, &QAction::triggered, this,
            [this] { Dialogs().MessageBox(this, Ui("Luaデバッガ"), windowTitle(), MB_OK | MB_ICONINFORMATION); });
}

void TfrmMacro::ShowErrorBox(const std::exception& e)
{
    Dialogs().MessageBox(this, Cp932ToQString(e.what()), windowTitle(), MB_OK | MB_ICONERROR);
}

void TfrmMacro::RunCommand(const std::function<void()>& command)
{
    // A run started from the window reports its script error in the default error box.
    try {
        command();
    } catch (const std::exception& e) {
        ShowErrorBox(e);
    }
}

void TfrmMacro::SetSourceFont(const TEditorFont& font)
{
    sourceProps_.Font.Name = font.Name;
    sourceProps_.Font.Height = font.Height;
    for (const auto& tab : tabs_) {
        TEditorProps props = tab->Editor().Properties();
        props.Font.Name = font.Name;
        props.Font.Height = font.Height;
        tab->Editor().SetProperties(props);
    }
}

// ----- run entry points

void TfrmMacro::RunFile(const std::string& fileName, const std::string& functionName,
                        std::vector<std::string>* results, const std::vector<std::string>& args)
{
    LoadFile(fileName);
    cbTarget->setCurrentIndex(pgcEdit->currentIndex());
    TRunRequest request;
    request.FunctionName = functionName;
    request.Args = args;
    request.Results = results;
    engine_.DebugRun(request);
}

void TfrmMacro::ToggleBreakPoint(const std::string& file, int line)
{
    view_.ToggleBreakPoint(file, line);
    for (const auto& tab : tabs_) {
        if (tab->FileName() != file) continue;
        if (!(engine_.IsRunning() && engine_.CurFile() == file && engine_.CurLine() == line && !engine_.Executing()))
            tab->RestoreRowMark(line);
        tab->Editor().viewport()->update();
    }
}

void TfrmMacro::SetBreakAtCaret()
{
    TEditInfo* tab = ActiveTab();
    if (tab == nullptr) return;
    ToggleBreakPoint(tab->FileName(), int(tab->Editor().Row()));
}

// ----- tabs

int TfrmMacro::IndexOfFile(const std::string& name) const
{
    const std::string full = FullSourcePath(name);
    for (std::size_t i = 0; i < tabs_.size(); ++i)
        if (FullSourcePath(tabs_[i]->FileName()) == full) return int(i);
    return -1;
}

TEditInfo* TfrmMacro::FindTab(const std::string& name) const
{
    const int i = IndexOfFile(name);
    return i < 0 ? nullptr : tabs_[std::size_t(i)].get();
}

TEditInfo* TfrmMacro::NewTab(const std::string& name)
{
    if (TEditInfo* tab = FindTab(name)) return tab;
    auto tab = std::make_unique<TEditInfo>(*pgcEdit, engine_.FBreakPoints, sourceProps_);
    TEditInfo* raw = tab.get();
    tab->OnFileNameChange = [this] { RefreshTargets(); };
    tab->Editor().installEventFilter(this);
    tab->Editor().viewport()->installEventFilter(this);
    TEditorEx* editor = &tab->Editor();
    editor->OnMouseWheelDown = [editor](TEditor*, Qt::KeyboardModifiers, QPoint, bool&) {
        editor->SetTopRow(editor->TopRow() + 1);
    };
    editor->OnMouseWheelUp = [editor](TEditor*, Qt::KeyboardModifiers, QPoint, bool&) {
        editor->SetTopRow(std::max(0LL, editor->TopRow() - 1));
    };
    tabs_.push_back(std::move(tab));
    if (SourceFileExists(name)) raw->LoadFromFile(name, engine_.FBreakPoints);
    else raw->SetFileName(name);
    view_.BreakpointsChanged();
    return raw;
}

TEditInfo* TfrmMacro::OpenTab(const std::string& name)
{
    TEditInfo* tab = IndexOfFile(name) < 0 ? NewTab(name) : FindTab(name);
    pgcEdit->setCurrentWidget(tab->Sheet());
    return tab;
}

TEditInfo* TfrmMacro::ActiveTab() const
{
    QWidget* page = pgcEdit->currentWidget();
    for (const auto& tab : tabs_)
        if (tab->Sheet() == page) return tab.get();
    return nullptr;
}

TEditInfo* TfrmMacro::TargetTab() const
{
    const int i = cbTarget->currentIndex();
    return i >= 0 && i < TabCount() ? tabs_[std::size_t(i)].get() : ActiveTab();
}

void TfrmMacro::DeleteTab(int i)
{
    if (i < 0 || i >= TabCount()) return;
    // Out of the list before its page leaves the tab widget, whose change slot walks the list.
    std::unique_ptr<TEditInfo> gone = std::move(tabs_[std::size_t(i)]);
    tabs_.erase(tabs_.begin() + i);
    gone.reset();
    RefreshTargets();
}

void TfrmMacro::GoToLine(const std::string& name, int row)
{
    TEditInfo* tab = OpenTab(name);
    show();
    TEditorEx& editor = tab->Editor();
    editor.SetTopRow(std::max<long long>(0, row - editor.RowCount() / 2));
    editor.setFocus();
    editor.SetCaret(row, 0);
}

void TfrmMacro::LoadFile(const std::string& name)
{
    if (!SourceFileExists(name)) throw Exception(name + Sjis(" が見つかりません。"));
    if (TEditInfo* tab = FindTab(name)) {
        tab->LoadFromFile(tab->FileName(), engine_.FBreakPoints);
        pgcEdit->setCurrentWidget(tab->Sheet());
    } else if (tabs_.empty()) {
        OpenTab(name);
    } else {
        TEditInfo& first = *tabs_.front();
        first.LoadFromFile(name, engine_.FBreakPoints);
        pgcEdit->setCurrentWidget(first.Sheet());
        view_.BreakpointsChanged();
    }
    pgcEditChange();
    engine_.Stop();
}

void TfrmMacro::RefreshTargets()
{
    const int remembered = cbTarget->currentIndex();
    const QSignalBlocker block(cbTarget);
    cbTarget->clear();
    for (const auto& tab : tabs_) cbTarget->addItem(pgcEdit->tabText(pgcEdit->indexOf(tab->Sheet())));
    cbTarget->setCurrentIndex(std::max(0, std::min(remembered, TabCount() - 1)));
}

void TfrmMacro::pgcEditChange()
{
    if (TEditInfo* tab = ActiveTab()) setWindowTitle(Cp932ToQString(tab->FileName()));
    if (chkInterlock->isChecked()) cbTarget->setCurrentIndex(pgcEdit->currentIndex());
}

// ----- file menu

void TfrmMacro::Open1Click()
{
    if (engine_.IsRunning()) {
        if (Dialogs().MessageBox(this, Ui("実行中です。中断して読み込みますか？"), windowTitle(),
                                 MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
            return;
        engine_.Stop();
    }
    FileDialogRequest request;
    request.fileName = ActiveTab() ? Cp932ToQString(ActiveTab()->FileName()) : QString();
    request.filter = QtFilter("lua files(*.lua)|*.lua");
    request.defaultSuffix = "lua";
    if (const auto chosen = Dialogs().OpenFileName(this, request)) LoadFile(QStringToCp932(*chosen));
}

void TfrmMacro::Save1Click()
{
    TEditInfo* tab = ActiveTab();
    if (tab == nullptr) return;
    if (tab->FileName().empty()) SaveAs1Click();
    else tab->SaveToFile(tab->FileName());
}

bool TfrmMacro::SaveAs1Click()
{
    TEditInfo* tab = ActiveTab();
    if (tab == nullptr) return false;
    FileDialogRequest request;
    request.fileName = Cp932ToQString(tab->FileName());
    request.filter = QtFilter("lua files(*.lua)|*.lua");
    request.defaultSuffix = "lua";
    request.confirmOverwrite = true;
    const auto chosen = Dialogs().SaveFileName(this, request);
    if (!chosen) return false;
    tab->SaveToFile(QStringToCp932(*chosen));
    pgcEditChange();
    return true;
}

void TfrmMacro::V2Click()
{
    for (const auto& tab : tabs_) {
        pgcEdit->setCurrentWidget(tab->Sheet());
        if (tab->FileName().empty()) {
            if (!SaveAs1Click()) return;
        } else {
            tab->SaveToFile(tab->FileName());
        }
    }
}

void TfrmMacro::Close1Click()
{
    DeleteTab(pgcEdit->currentIndex());
    if (tabs_.empty()) NewTab("");
    pgcEditChange();
}

void TfrmMacro::L1Click()
{
    tabs_.clear();
    NewTab("");
    RefreshTargets();
    pgcEditChange();
}

void TfrmMacro::P1Click()
{
    SetRunArguments(AskText(this, Ui("実行時の引数"), Ui("実行時の引数"), argumentText_).value_or(argumentText_));
}

void TfrmMacro::SetRunArguments(const std::string& text)
{
    argumentText_ = text;
    FArgs = FromCommaText(text);
}

// ----- views

void TfrmMacro::ShowPart(TDebuggerViewModel::Part part)
{
    using Part = TDebuggerViewModel::Part;
    const auto fill = [](QListWidget* list, const auto& lines) {
        list->clear();
        for (const auto& line : lines) list->addItem(Cp932ToQString(line));
    };
    switch (part) {
    case Part::Stack: fill(lstStack, view_.Stack()); break;
    case Part::Locals: fill(lstLocal, view_.Locals()); break;
    case Part::Watches: ShowWatches(); break;
    case Part::Breakpoints: RefreshBreakGrid(); break;
    case Part::Calls: ShowCalls(); break;
    case Part::Messages:
        memMessage->clear();
        for (const auto& line : view_.Messages()) memMessage->appendPlainText(Cp932ToQString(line));
        break;
    case Part::Console: memConsole->setPlainText(Cp932ToQString(view_.Console())); break;
    case Part::Display: {
        const QSignalBlocker block(chkDisp);
        chkDisp->setChecked(view_.DisplayOn());
        break;
    }
    case Part::Position:  // the source tabs' marks follow the engine
    case Part::Globals:   // the tree follows its model
        break;
    }
}

void TfrmMacro::ShowAppended(TDebuggerViewModel::Part part, const std::string& text)
{
    if (part == TDebuggerViewModel::Part::Messages) {
        memMessage->appendPlainText(Cp932ToQString(text));
        return;
    }
    QTextCursor cursor = memConsole->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(Cp932ToQString(text));
    memConsole->setTextCursor(cursor);
}

void TfrmMacro::ShowWatches()
{
    const auto& watches = view_.Watches();
    const QSignalBlocker block(sgWatch);
    if (sgWatch->rowCount() < int(watches.size())) sgWatch->setRowCount(int(watches.size()));
    for (int row = 0; row < int(watches.size()); ++row) {
        const QString name = Cp932ToQString(watches[std::size_t(row)].Name);
        const QTableWidgetItem* nameItem = sgWatch->item(row, 0);
        if (nameItem == nullptr ? !name.isEmpty() : nameItem->text() != name) sgWatch->setItem(row, 0, new QTableWidgetItem(name));
        auto* valueItem = new QTableWidgetItem(Cp932ToQString(watches[std::size_t(row)].Value));
        valueItem->setFlags(Qt::ItemIsEnabled);
        sgWatch->setItem(row, 1, valueItem);
    }
}

void TfrmMacro::ShowCalls()
{
    // Calls come and go at the front (the newest end) only.
    const auto& calls = view_.Calls();
    while (lstStackTrace->count() > int(calls.size())) delete lstStackTrace->takeItem(0);
    for (int i = int(calls.size()) - lstStackTrace->count() - 1; i >= 0; --i)
        lstStackTrace->insertItem(0, Cp932ToQString(calls[std::size_t(i)]));
}

void TfrmMacro::RefreshBreakGrid()
{
    const int width = std::max(8, sgBreak->columnWidth(0) - 6);
    const QFontMetrics metrics(sgBreak->font());
    const auto measure = [&](const std::string& text) { return metrics.horizontalAdvance(Cp932ToQString(text)); };
    sgBreak->clearContents();
    // Only the grid's rows show breakpoints; breakpoints beyond them stay set.
    for (int i = 0; i < engine_.FBreakPoints.Count() && i < sgBreak->rowCount(); ++i) {
        const TBreakInfo& info = engine_.FBreakPoints.Items(i);
        sgBreak->setItem(i, 0, new QTableWidgetItem(Cp932ToQString(ShortenFileName(info.FileName, width, measure))));
        sgBreak->setItem(i, 1, new QTableWidgetItem(QString::number(info.Line + 1)));
    }
}

void TfrmMacro::FitGridColumns()
{
    // The value column of the watches and the file column of the breakpoints take the rest.
    sgWatch->setColumnWidth(0, 120);
    sgWatch->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    sgBreak->setColumnWidth(1, 48);
    sgBreak->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    RefreshBreakGrid();
}

// ----- window events

void TfrmMacro::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (positioned_) return;
    positioned_ = true;
    if (ini_ != nullptr) {
        const QRect owner = owner_ ? owner_->geometry() : QRect();
        const int top = ini_->ReadInteger("Debugger", "Top", owner.top() + 20);
        const int left = ini_->ReadInteger("Debugger", "Left", owner.left() + 20);
        const int height = ini_->ReadInteger("Debugger", "Height", this->height());
        const int width = ini_->ReadInteger("Debugger", "Width", this->width());
        setGeometry(left, top, std::max(200, width), std::max(150, height));
    }
    view_.SetDisplayOn(false);
    FitGridColumns();
}

void TfrmMacro::SaveWindowPosition()
{
    if (ini_ == nullptr) return;
    try {
        ini_->WriteInteger("Debugger", "Top", geometry().top());
        ini_->WriteInteger("Debugger", "Left", geometry().left());
        ini_->WriteInteger("Debugger", "Height", geometry().height());
        ini_->WriteInteger("Debugger", "Width", geometry().width());
    } catch (const std::exception&) {
        // An unwritable settings file loses the position only.
    }
}

void TfrmMacro::closeEvent(QCloseEvent* event)
{
    // Closing only hides; a run goes on, and its next stop shows the window again.
    SaveWindowPosition();
    positioned_ = false;
    view_.SetDisplayOn(false);
    event->accept();
}

void TfrmMacro::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    FitGridColumns();
}

bool TfrmMacro::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == sgWatch && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) view_.RefreshWatches();
        return false;
    }
    // A click in the line-number margin toggles the row's breakpoint. A double click arrives as
    // two presses and a double-click event: three toggles, so it sets one as it always did.
    const bool press = event->type() == QEvent::MouseButtonPress;
    if (press || event->type() == QEvent::MouseButtonDblClick) {
        for (const auto& tab : tabs_) {
            TEditorEx& editor = tab->Editor();
            if (watched != editor.viewport()) continue;
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint pos = mouse->position().toPoint();
            if (pos.x() >= editor.LeftAreaWidth() || mouse->button() != Qt::LeftButton) return false;
            const long long row = editor.RowAtPoint(pos);
            if (row >= 0 && row < editor.LineCount()) {
                pgcEdit->setCurrentWidget(tab->Sheet());
                editor.SetCaret(row, 0);
                SetBreakAtCaret();
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ----- TDebugView

void TfrmMacro::ActionsChanged()
{
    const bool canStep = engine_.CanTrace();
    acTrace->setEnabled(canStep);
    acStep->setEnabled(canStep);
    acUp->setEnabled(canStep);
    acEval->setEnabled(canStep);
    acPause->setEnabled(engine_.CanPause());
    acStop->setEnabled(engine_.CanStop());
}

std::string TfrmMacro::TargetFileName()
{
    const TEditInfo* tab = TargetTab();
    return tab ? tab->FileName() : std::string();
}

std::string TfrmMacro::TargetText()
{
    const TEditInfo* tab = TargetTab();
    return tab ? tab->Editor().Text() : std::string();
}

void TfrmMacro::RunStarting(bool trace)
{
    for (const auto& tab : tabs_) tab->RestoreAllMarks();
    pgcMessage->setCurrentIndex(1);
    TEditInfo* target = TargetTab();
    setWindowTitle(Cp932ToQString((target ? target->FileName() : std::string()) + Sjis(" [実行中]")));
    for (const auto& tab : tabs_) tab->ClearUndo();
    if (trace && target != nullptr) {
        pgcEdit->setCurrentWidget(target->Sheet());
        target->SetRowMark(0, kCurrentLineMark);
    }
    view_.RunStarting();
    nestedCommands_ = std::make_unique<CopyDataNestedScope>();
}

void TfrmMacro::CurrentLineLeft()
{
    view_.LeavePosition();
    if (TEditInfo* tab = FindTab(engine_.CurFile())) {
        tab->RestoreRowMark(engine_.CurLine());
        tab->Editor().viewport()->update();
    }
}

void TfrmMacro::RunEnded()
{
    nestedCommands_.reset();
    CurrentLineLeft();
    if (TEditInfo* target = TargetTab()) pgcEdit->setCurrentWidget(target->Sheet());
    pgcEditChange();
    RefreshTargets();
}

void TfrmMacro::ShowPosition(const std::string& file, int line, lua_State* L)
{
    TEditInfo* tab = OpenTab(file);
    TEditInfo* old = FindTab(engine_.CurFile());
    if (old != nullptr) {
        old->RestoreRowMark(engine_.CurLine());
        if (old != tab) old->Editor().viewport()->update();
    }
    tab->SetRowMark(line, kCurrentLineMark);
    tab->ScrollIntoView(line);
    tab->Editor().viewport()->update();
    view_.ShowPosition(file, line, L);
}

void TfrmMacro::RefreshAfterRun(lua_State* L) { view_.ShowAfterRun(L); }

void TfrmMacro::ShowWindow()
{
    if (isMinimized()) showNormal();
    show();
    raise();
}

void TfrmMacro::ShowError(const std::string& file, int line, const std::string&)
{
    if (line > 0 && SourceFileExists(file)) {
        TEditInfo* tab = OpenTab(file);
        tab->SetRowMark(line - 1, 0);
        GoToLine(file, line - 1);
    }
    pgcMessage->setCurrentIndex(0);
}

void TfrmMacro::AppendMessage(const std::string& text) { view_.AppendMessage(text); }

void TfrmMacro::CallEntered(const std::string& text) { view_.CallEntered(text); }

void TfrmMacro::CallsDropped(int count) { view_.CallsDropped(count); }

std::string TfrmMacro::LineText(const std::string& file, int line)
{
    const TEditInfo* tab = FindTab(file);
    if (tab == nullptr || line < 0 || line >= tab->Editor().LineCount()) return {};
    return tab->Editor().GetLineString(line);
}

bool TfrmMacro::DisplayOn() { return view_.DisplayOn(); }

void TfrmMacro::ServeEvents(bool wait)
{
    if (wait) ServeEventsUpTo(std::chrono::milliseconds(50));
    else QCoreApplication::processEvents();
}

}  // namespace pek

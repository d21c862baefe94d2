// The terminal window's traffic: received data, commands, command strings from other programs,
// logs and the pane file commands. The work is done by the display-free parts; this wires them to
// the window's sheets, widgets and dialogs.
#include "terminal/main_u.h"

#include "editor/EditorEx.h"
#include "platform/CodePage.h"
#include "platform/CopyData.h"
#include "platform/DialogService.h"
#include "platform/Profile.h"
#include "serial/CommXEx.h"
#include "terminal/PaneFiles.h"
#include "terminal/PortWatch.h"
#include "terminal/SheetSettings.h"
#include "terminal/WindowGroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSplitter>
#include <QTimer>

#include <cstdlib>
#include <ctime>

namespace pek {

namespace {

// "!name": the file from the working folder, else the shipped example of that name; empty when
// neither exists.
std::string MacroPath(const std::string& cp932FileName)
{
    if (RegularFileExists(cp932FileName)) return cp932FileName;
    return FindExampleMacro(cp932FileName, QCoreApplication::applicationDirPath().toStdString());
}

}  // namespace

CommandWindow TPekForm::CommandWindowOfThis()
{
    return CommandWindow{
        [this](int sheet) { return sheets_.Contains(sheet) ? sheets_.At(sheet)->Port() : nullptr; },
        [this](int sheet, std::string_view text, bool log) { ShowText(sheet, text, log); },
        [this](const std::string& text, const std::string& caption, unsigned flags) { ShowMessage(text, caption, flags); },
        [](const std::string& fileName) { return !MacroPath(fileName).empty(); },
        [this](const CommandHistory& history) {
            ShowHistory();
            SaveHistory(history);
        },
        [this](TCommXEx& port, std::string_view text) { WriteLog(port, text); },
        [this](int sheet, const std::string& fileName, bool forceThreadRun) {
            const std::string path = MacroPath(fileName);
            return group_->RunMacro(sheet, path.empty() ? fileName : path, forceThreadRun);
        }};
}

ReceiveDisplay::FindTarget TPekForm::ReceiveTargets()
{
    return [this](const TCustomCommX& port) {
        Sheet* sheet = sheets_.At(sheets_.IndexOfPort(port));
        if (!sheet || !sheet->port) return ReceiveDisplay::Target{};
        return ReceiveDisplay::Target{&sheet->pane->Model(), &sheet->leadByte, sheet->port, &sheet->utf8, sheet->hex.get()};
    };
}

// ---- actions ----------------------------------------------------------------------------

void TPekForm::AttachOwnActions()
{
    const auto pane = [this](auto action) {
        return [this, action] {
            if (TEditorEx* p = FocusedPane()) action(*p);
        };
    };
    actions_.Attach("FileOpenComAct", [this] { FileOpenComActExecute(); });
    actions_.Attach("FileOpenAct", [this] { FileOpenActExecute(); });
    actions_.Attach("FileCloseToNewAct", [this] { FileCloseToNewActExecute(); });
    actions_.Attach("FileLoadAct", [this] { FileLoadActExecute(); });
    actions_.Attach("FileSaveAct", [this] { FileSaveActExecute(); });
    actions_.Attach("FileSaveAsAct", [this] { FileSaveAsActExecute(); });
    FileLogAct = actions_.Attach("FileLogAct", [this] { FileLogActExecute(); });
    actions_.Attach("FileCloseComAct", [this] { FileCloseComActExecute(); });
    actions_.Attach("FileCloseAct", [this] { FileCloseActExecute(); });
    actions_.Attach("FileQuitAct", [this] { close(); });
    actions_.Attach("EditUndoAct", pane([](TEditorEx& p) { p.Model().Undo(); }));
    actions_.Attach("EditRedoAct", pane([](TEditorEx& p) { p.Model().Redo(); }));
    actions_.Attach("EditCutAct", pane([](TEditorEx& p) { p.CutToClipboard(); }));
    actions_.Attach("EditCopyAct", pane([](TEditorEx& p) { p.CopyToClipboard(); }));
    actions_.Attach("EdtiPasteAct", pane([](TEditorEx& p) { p.PasteFromClipboard(); }));
    actions_.Attach("EditSelectAllAct", pane([](TEditorEx& p) { p.Model().SelectAll(); }));
    actions_.Attach("EditClearAct", [this] { EditClearActExecute(); });
    EditReadOnlyAct = actions_.Attach("EditReadOnlyAct", [] {});
    ViewStayOnTopAct = actions_.Attach("ViewStayOnTopAct", [this] { SetStayOnTop(ViewStayOnTopAct->isChecked()); });
    ViewSplitAct = actions_.Attach("ViewSplitAct", [this] { ViewSplitActExecute(); });
    ViewHexAct = actions_.Attach("ViewHexAct", [this] { SetSheetHexView(ActiveSheet(), ViewHexAct->isChecked()); });
    actions_.Attach("ViewOtherWinAct", [this] { ViewOtherWinActExecute(); });
    RunRunCmdAct = actions_.Attach("RunRunCmdAct", [this] { RunRunCmdActExecute(); });
    RunHexSendAct = actions_.Attach("RunHexSendAct", [this] {
        InpCmdCbx->lineEdit()->setPlaceholderText(RunHexSendAct->isChecked() ? Ui("16進で送信するバイト (例: 02 41 42 03)") : QString());
    });
    RunCallCmdAct = actions_.Find("RunCallCmdAct");
}

void TPekForm::SetStayOnTop(bool onTop)
{
    // In a shadow window too, the main window is the one that stays on top.
    TPekForm* main = group_->Main();
    for (TPekForm* window : group_->Windows()) window->ViewStayOnTopAct->setChecked(onTop);
    if (!main) return;
    main->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    main->show();
}

// ---- receive display ----------------------------------------------------------------------

void TPekForm::CommX1Receive(TCustomCommX& sender, std::int32_t receiveSize)
{
    auto& port = static_cast<TCommXEx&>(sender);
    // A binary log that failed on the receive thread was closed there; the user hears of it now.
    if (const std::string failure = port.TakeLogFailure(); !failure.empty()) {
        const std::string message = Cp932ToUtf8(failure);
        QTimer::singleShot(0, this, [this, message] {
            RefreshLogButton();
            ShowMessage(message, "Pek", MB_OK | MB_ICONERROR);
        });
    }
    receive_.Receive(port, receiveSize);
}

void TPekForm::CommX1Error(TCustomCommX& sender, std::int32_t errorState)
{
    const int sheet = sheets_.IndexOfPort(sender);
    if (sheet < 0) return;
    const bool log = static_cast<TCommXEx&>(sender).LogMsg();
    for (const std::string& message : LineErrorMessages(errorState)) ShowText(sheet, message, log);
}

void TPekForm::CommX1Disconnect(TCustomCommX& sender)
{
    const int sheet = sheets_.IndexOfPort(sender);
    if (sheet < 0) return;
    ShowText(sheet, Sjis("\r\n通信ポートが切断されました\r\n"), static_cast<TCommXEx&>(sender).LogMsg());
    WatchPort(sheets_.At(sheet)->port);
}

void TPekForm::WatchPort(const std::shared_ptr<TCommXEx>& port)
{
    if (!port || !portWatch_) return;
    const std::weak_ptr<TCommXEx> watched = port;
    portWatch_->Watch(port, [this, watched] {
        const auto port = watched.lock();
        if (!port) return;
        const int sheet = sheets_.IndexOfPort(*port);
        if (sheet >= 0) ShowText(sheet, Sjis("通信ポートを再接続しました\r\n"), port->LogMsg());
    });
}

void TPekForm::ShowText(int sheet, std::string_view text, bool log)
{
    TEditorEx* pane = SheetPane(sheet);
    if (!pane) return;
    receive_.ShowText(pane->Model(), SheetPort(sheet), text, log);
}

void TPekForm::ShowMessageOnActiveSheet(std::string_view text)
{
    const int active = ActiveSheet();
    const TCommXEx* port = SheetPort(active);
    ShowText(active, text, port && port->LogMsg());
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

// ---- command line -------------------------------------------------------------------------

void TPekForm::ExecCommand(int sheet, std::string text, bool fromUser)
{
    const QPointer<TPekForm> self(this);
    commands_.ExecCommand(sheet, std::move(text), fromUser);
    if (!self) return;
    group_->CommandDone();
}

void TPekForm::RunRunCmdActExecute()
{
    std::string text;
    if (!Utf8ToCp932Checked(InpCmdCbx->currentText().toStdString(), text)) {
        ShowMessage("コード932で表せない文字は送信できません", "Pek", MB_OK | MB_ICONERROR);
        return;
    }
    if (RunHexSendAct->isChecked()) {
        const QPointer<TPekForm> self(this);
        commands_.ExecHexCommand(ActiveSheet(), text, true);
        if (self) group_->CommandDone();
        return;
    }
    ExecCommand(ActiveSheet(), text, true);
}

void TPekForm::ShowHistory()
{
    InpCmdCbx->clear();
    for (const auto& item : commands_.History().Items()) InpCmdCbx->addItem(Cp932ToQString(item));
    InpCmdCbx->setCurrentIndex(-1);
    InpCmdCbx->setEditText(QString());
}

void TPekForm::SaveHistory(const CommandHistory& history)
{
    try {
        Ini().WriteString(EnvSection(), "InpCmd", ToCommaText(history.Items()));
        group_->SettingsWritten();
    } catch (const std::exception& error) {
        ReportSettingsError(error);
    }
}

void TPekForm::ReportSettingsError(const std::exception& error)
{
    if (group_->FirstSettingsError()) ShowError(error);
}

bool TPekForm::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == InpCmdCbx || watched == InpCmdCbx->lineEdit()) && event->type() == QEvent::KeyPress)
        return InpCmdCbxKeyDown(static_cast<QKeyEvent&>(*event));
    // A double click on a split sheet's splitter unsplits it.
    if (event->type() == QEvent::MouseButtonDblClick) {
        const Sheet* sheet = sheets_.At(ActiveSheet());
        if (sheet != nullptr && sheet->upper != nullptr && watched == sheet->splitter->handle(1)) {
            ViewSplitActExecute();
            return true;
        }
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
    // A notch of the wheel moves a pane by one line.
    pane.OnMouseWheelDown = [](TEditor* sender, Qt::KeyboardModifiers, QPoint, bool& handled) {
        sender->SetTopRow(sender->TopRow() + 1);
        handled = true;
    };
    pane.OnMouseWheelUp = [](TEditor* sender, Qt::KeyboardModifiers, QPoint, bool& handled) {
        sender->SetTopRow(std::max(0LL, sender->TopRow() - 1));
        handled = true;
    };
    // The pane takes in what the sheet's port has read at each refresh. While data keeps coming,
    // the pane refreshes every frame and the port holds a trickle for the next refresh instead of
    // waking the main thread for each piece (a report follows only if that refresh is late);
    // after a frame without data, the next piece is reported at once.
    pane.OnRefreshing = [this](TEditor* sender, std::chrono::steady_clock::time_point nextRefresh) {
        for (int k = 0; k < sheets_.Count(); ++k) {
            const std::shared_ptr<TCommXEx> port = sheets_.At(k)->port;
            if (sheets_.At(k)->pane != sender || !port) continue;
            const bool receiving = port->TakeInNow();
            port->SetReportBy(receiving ? nextRefresh + std::chrono::milliseconds(4) : std::chrono::steady_clock::now());
            return receiving;
        }
        return false;
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
        switch (CopyDataAction(dwData)) {
        case CopyDataAction::RunCommand:
            // As if typed and entered, but with the bytes as sent: the box shows them, the
            // command processor gets them unconverted.
            InpCmdCbx->setEditText(Cp932ToQString(text));
            {
                // A command that goes to the port is refused when the port is closed, so that the
                // sender learns nothing was sent (the user is told by the command line as well).
                const int sheet = ActiveSheet();
                const TCommXEx* port = SheetPort(sheet);
                const bool macro = text.rfind("!", 0) == 0 || text.rfind("@!", 0) == 0;
                const bool sendable = port && port->IsOpen();
                ExecCommand(sheet, text, true);
                return macro || sendable;
            }
        case CopyDataAction::LoadFile:
            if (TEditorEx* pane = ActivePane()) LoadPaneFile(pane->Model(), text);
            return true;
        case CopyDataAction::SaveFile:
            if (TEditorEx* pane = ActivePane()) SavePaneFile(pane->Model(), text);
            return true;
        case CopyDataAction::Clear:
            EditClearActExecute();
            return true;
        case CopyDataAction::SelectTab: {
            char* end = nullptr;
            const long index = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || !end || *end != '\0' || index < 0 || index >= SheetCount()) {
                ShowMessage("指定されたページ(" + Cp932ToUtf8(text) + ")は存在しません。", "Pek", MB_OK);
                return false;
            }
            SetActiveSheet(int(index));
            return true;
        }
        }
        ShowMessage("dwData=" + std::to_string(dwData) + "は未対応です。", "Pek", MB_OK);
        return false;
    } catch (const std::exception& error) {
        ShowError(error);
        return false;
    }
}

// ---- logging and file commands ------------------------------------------------------------

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
        request.fileName = Cp932ToQString(DefaultLogName(std::time(nullptr)));
        request.defaultSuffix = "log";
        request.filter = QtFilter(Ui("ログファイル (*.log)|*.log|全てのファイル (*)|*"));
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

// "*", not "*.*": on Linux many files have no extension (Makefile, device logs) and "*.*" hides them.
const char* const kTextFilter = "すべてのファイル(*)|*|Logファイル(*.log)|*.log";

}  // namespace

void TPekForm::FileOpenActExecute()
{
    const auto name =
        ChooseFile(false, FilteredRequest("すべてのファイル(*)|*|Logファイル(*.log)|*.log|Luaファイル(*.lua)|*.lua"));
    if (!name) return;
    AddSheet(*name);
    LoadHighlight(SheetCount() - 1);
}

void TPekForm::FileLoadActExecute()
{
    TEditorEx* pane = FocusedPane();
    if (!pane) return;
    const auto name = ChooseFile(false, FilteredRequest(kTextFilter));
    if (!name) return;
    try {
        LoadPaneFile(pane->Model(), *name);
    } catch (const std::exception& error) {
        ShowError(error);
    }
}

bool TPekForm::FileSaveActExecute()
{
    const Sheet* sheet = sheets_.At(ActiveSheet());
    if (!sheet) return false;
    if (sheet->fileName.rfind(UntitledName(), 0) == 0) return FileSaveAsActExecute();
    try {
        SavePaneFile(sheet->pane->Model(), sheet->fileName);
        return true;
    } catch (const std::exception& error) {
        ShowError(error);
        return false;
    }
}

bool TPekForm::FileSaveAsActExecute()
{
    Sheet* sheet = sheets_.At(ActiveSheet());
    if (!sheet) return false;
    FileDialogRequest request = FilteredRequest(kTextFilter);
    request.defaultSuffix = "log";
    const auto chosen = ChooseFile(true, request);
    if (!chosen) return false;
    const std::string name = WithLogExtension(*chosen);
    try {
        SavePaneFile(sheet->pane->Model(), name);
    } catch (const std::exception& error) {
        ShowError(error);
        return false;
    }
    sheet->fileName = name;
    UpdateCaptions();
    return true;
}

void TPekForm::FileCloseToNewActExecute()
{
    const int active = ActiveSheet();
    Sheet* sheet = sheets_.At(active);
    if (!sheet) return;
    const int answer = ShowMessage("閉じる前にセーブしますか？", "確認メッセージ", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return;
    if (answer == IDYES && !FileSaveAsActExecute()) return;
    sheet->pane->Model().Clear();
    sheet->fileName = UntitledName();
    try {
        Ini().WriteString(SheetSection(active), "EditFileName", sheet->fileName);
    } catch (const std::exception& error) {
        ReportSettingsError(error);
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

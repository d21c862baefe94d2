// The terminal window's sheets: creating, restoring and closing them, their ports, settings,
// highlighting and captions, and shadow windows that show a sheet a second time.
#include "terminal/main_u.h"

#include "editor/EditorEx.h"
#include "editor/EditorExProp.h"
#include "platform/CodePage.h"
#include "platform/CopyData.h"
#include "platform/DialogService.h"
#include "platform/Profile.h"
#include "serial/CommXEx.h"
#include "terminal/Captions.h"
#include "terminal/EditorAllCodec.h"
#include "terminal/PaneFiles.h"
#include "terminal/PortWatch.h"
#include "terminal/SheetSettings.h"
#include "terminal/WindowGroup.h"

#include <QComboBox>
#include <QTabWidget>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>

namespace pek {

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
    sheet.pane->Model().Lines().SetMaxLines(
        ReadPaneMaxLines(Ini(), SheetSection(SheetCount() - 1), int(MainEd->Model().Lines().MaxLines())));
    if (Ini().ReadBool(SheetSection(SheetCount() - 1), "HexView", false)) sheet.hex = std::make_unique<HexLines>();
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
    WritePaneMaxLines(Ini(), SheetSection(index), sheet.pane->Model().Lines().MaxLines());
    Ini().WriteBool(SheetSection(index), "HexView", sheet.hex != nullptr);
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
    group_->WindowOpened(*shadow);
    return shadow;
}

// ---- for the settings dialog and call functions ------------------------------------------

void TPekForm::SetWindowOptions(const Options& options)
{
    SetEcho(options.echo);
    SetCtrlCode(options.ctrlCode);
    autoColOff_ = options.autoColOff;
}

std::shared_ptr<TCommXEx> TPekForm::AddSheetPort(int sheet)
{
    Sheet* s = sheets_.At(sheet);
    if (!s) return nullptr;
    if (!s->port) s->port = NewPort();
    UpdateCaptions();
    return s->port;
}

void TPekForm::RemoveSheetPort(int sheet)
{
    Sheet* s = sheets_.At(sheet);
    if (!s || !s->port) return;
    portWatch_->Unwatch(s->port.get());
    s->port->Close();
    s->port.reset();
    UpdateCaptions();
    RefreshLogButton();
}

void TPekForm::PortSettingsChanged(int sheet)
{
    const Sheet* s = sheets_.At(sheet);
    if (s && s->port) {
        if (s->port->IsOpen())
            portWatch_->Unwatch(s->port.get());
        else
            WatchPort(s->port);
    }
    UpdateCaptions();
    RefreshLogButton();
}

void TPekForm::SaveSheetSettings(int sheet)
{
    if (!sheets_.Contains(sheet)) return;
    ProfileBatch batch(Ini());
    SavePortSettings(sheet);
    EditorExProp1->Assign(*MainEd);
    WriteEditorAll(Ini(), EnvSection(), EditorExProp1->SaveToBytes());
    Ini().WriteBool("Editor", "ReadOnly", PanesReadOnly());
    SaveHighlight(sheet);
    // The highlighting writer leaves an older Block in place when the list is empty, and the
    // brackets the user removed would come back at the next start.
    if (sheets_.At(sheet)->pane->BracketCount() == 0)
        Ini().WriteString(HighlightSection(sheets_.At(sheet)->fileName, sheet), "Block", "");
    batch.Commit();
    UpdateCaptions();
}

void TPekForm::RunCommandLine(const std::string& text)
{
    // The bytes go to the command processor as they are; the box only shows them.
    InpCmdCbx->setEditText(Cp932ToQString(text));
    ExecCommand(ActiveSheet(), text, true);
}

bool TPekForm::SheetSplit(int sheet) const
{
    const Sheet* s = sheets_.At(sheet);
    return s != nullptr && s->upper != nullptr;
}

TEditorEx* TPekForm::FocusedPane() const
{
    const Sheet* sheet = sheets_.At(ActiveSheet());
    if (sheet == nullptr) return nullptr;
    if (sheet->upper != nullptr && !sheet->pane->hasFocus()) return sheet->upper;
    return sheet->pane;
}

bool TPekForm::SheetHexView(int sheet) const
{
    const Sheet* s = sheets_.At(sheet);
    return s != nullptr && s->hex != nullptr;
}

void TPekForm::SetSheetHexView(int index, bool on)
{
    Sheet* sheet = sheets_.At(index);
    if (!sheet || (sheet->hex != nullptr) == on) return;
    TEditorModel& pane = sheet->pane->Model();
    TCommXEx* port = sheet->port.get();
    // Either way the next bytes start a line of their own.
    if (!on && port) receive_.EndHexLine(pane, *port, *sheet->hex);
    if (pane.Lines().LineLength(pane.Lines().LineCount() - 1) > 0)
        receive_.ShowText(pane, port, "\r\n", port && port->LogRcv() && !port->LogBin());
    sheet->hex = on ? std::make_unique<HexLines>() : nullptr;
    sheet->leadByte = LeadByteHold();
    if (index == ActiveSheet() && ViewHexAct) ViewHexAct->setChecked(on);
}

void TPekForm::ViewSplitActExecute()
{
    Sheet* sheet = sheets_.At(ActiveSheet());
    if (sheet == nullptr) return;
    auto* layout = static_cast<QVBoxLayout*>(sheet->page->layout());
    if (sheet->upper != nullptr) {
        // Unsplit: the first pane goes back onto the page, the splitter waits hidden.
        layout->insertWidget(0, sheet->pane);
        sheet->splitter->hide();
        sheet->pane->setFocus();
        delete sheet->upper;
        sheet->upper = nullptr;
        ViewSplitAct->setChecked(false);
        PageControl1Change();
        return;
    }
    if (sheet->splitter == nullptr) {
        sheet->splitter = new QSplitter(Qt::Vertical, sheet->page);
        sheet->splitter->setChildrenCollapsible(false);
        layout->addWidget(sheet->splitter);
    }
    QSplitter* splitter = sheet->splitter;
    auto* upper = new TEditorEx(splitter);
    EditorExProp1->Assign(*sheet->pane);
    EditorExProp1->AssignTo(*upper);
    upper->ShareTextWith(*sheet->pane);
    AttachPaneHandlers(*upper);
    sheet->upper = upper;
    const int height = sheet->page->height();
    splitter->addWidget(upper);
    splitter->addWidget(sheet->pane);
    splitter->show();
    splitter->setSizes({height / 2, height - height / 2 - splitter->handleWidth()});
    // The lower pane follows on from the upper pane's last visible row.
    const long long top = sheet->pane->TopRow();
    upper->SetTopRow(top);
    const long long upperRows = std::max<long long>(1, (height / 2) / std::max(1, upper->CellHeight()));
    sheet->pane->SetTopRow(top + upperRows);
    splitter->handle(1)->installEventFilter(this);
    ViewSplitAct->setChecked(true);
}

}  // namespace pek

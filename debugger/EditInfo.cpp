#include "debugger/EditInfo.h"

#include "debugger/BreakPoints.h"
#include "editor/EditorEx.h"
#include "platform/CodePage.h"

#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace pek {

namespace {

// Lua keywords of the source tabs' highlighting.
const std::vector<std::string> kLuaWords = {"and",   "break", "do",  "else", "elseif", "end",    "false",
                                            "for",   "function", "goto", "if", "in",   "local",  "nil",
                                            "not",   "or",    "repeat", "return", "then", "true", "until", "while"};

QString BaseName(const std::string& name)
{
    std::string base = name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
    if (const auto dot = base.rfind('.'); dot != std::string::npos && dot > 0) base.erase(dot);
    return Cp932ToQString(base);
}

}  // namespace

TEditorProps LuaSourceProperties()
{
    TEditorProps props;
    props.Color = clWhite;
    props.Font.Color = clBlack;
    props.WordWrap = false;
    props.Leftbar = true;
    props.Imagebar = true;
    props.View.Commenter = "--";
    props.View.Colors.Comment.Color = 0x00008000;  // green
    props.View.Colors.Str.Color = 0x00800000;      // navy
    props.View.Colors.Reserve.Color = 0x00800000;
    props.View.Colors.Reserve.Style = fsBold;
    props.ReserveWordList = kLuaWords;
    props.ExMarks.Img2Line.Visible = true;
    props.ExMarks.Img2Line.BkColor = clYellow;
    props.ExMarks.Img2Line.Color = clYellow;
    props.ExMarks.Img3Line.Visible = true;
    props.ExMarks.Img3Line.BkColor = clRed;
    props.ExMarks.Img3Line.Color = clRed;
    return props;
}

TEditInfo::TEditInfo(QTabWidget& pages, const TBreakPoints& breakPoints, const TEditorProps& props)
    : breakPoints_(breakPoints), sheet_(std::make_unique<QWidget>())
{
    auto* layout = new QVBoxLayout(sheet_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    editor_ = new TEditorEx(sheet_.get());
    editor_->SetProperties(props);
    layout->addWidget(editor_);
    pages.addTab(sheet_.get(), QString());
    pages.setCurrentWidget(sheet_.get());
}

TEditInfo::~TEditInfo() = default;

void TEditInfo::LoadFromFile(const std::string& name, TBreakPoints& breakPoints)
{
    TEditorEx loaded;
    loaded.LoadFromFile(name);  // a failure leaves the tab as it was
    if (name != fileName_) breakPoints.Clear();
    editor_->SetText(loaded.Text());
    editor_->ClearUndo();
    SetFileName(name);
    RestoreAllMarks();
}

void TEditInfo::SaveToFile(const std::string& name)
{
    editor_->SaveToFile(name);
    SetFileName(name);
}

void TEditInfo::SetFileName(const std::string& name)
{
    fileName_ = name;
    if (auto* pages = qobject_cast<QTabWidget*>(sheet_->parentWidget() ? sheet_->parentWidget()->parentWidget() : nullptr))
        pages->setTabText(pages->indexOf(sheet_.get()), BaseName(name));
    if (OnFileNameChange) OnFileNameChange();
}

void TEditInfo::SetRowMark(int row, std::uint16_t mark) { editor_->SetRowMarks(row, mark); }

void TEditInfo::RestoreRowMark(int row)
{
    SetRowMark(row, breakPoints_.Exists(fileName_, row) ? kBreakPointMark : 0);
}

void TEditInfo::RestoreAllMarks()
{
    const long long rows = editor_->LineCount();
    for (long long row = 0; row < rows; ++row) editor_->SetRowMarks(row, 0);
    for (int i = 0; i < breakPoints_.Count(); ++i)
        if (breakPoints_.Items(i).FileName == fileName_) SetRowMark(breakPoints_.Items(i).Line, kBreakPointMark);
    editor_->viewport()->update();
}

void TEditInfo::ScrollIntoView(int row)
{
    const long long top = editor_->TopRow();
    const long long visible = std::max<long long>(1, editor_->RowCount());
    if (row >= top + visible) editor_->SetTopRow(row - visible + 1);
    else if (row < top) editor_->SetTopRow(row);
}

void TEditInfo::ClearUndo() { editor_->ClearUndo(); }

}  // namespace pek

#pragma once
// The editor control: TEditor shows a TEditorModel row by row (laid out by TRowLayouter, painted
// by TEditorRenderer) and turns keys and the mouse into model operations; TOleddEditor adds
// dragging and dropping text; TEditorEx adds the row-mark backgrounds, the search options with
// regular-expression search and vertical guide lines.
// Every model operation is reachable through Model(); the most used ones are repeated here.
#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QFont>
#include <QPoint>
#include <QSize>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "editor/EditorModel.h"
#include "editor/EditorProps.h"

class QPainter;
class QRegion;
class QTimer;

namespace pek {

class TEditorRenderer;

class TEditor : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TEditor(QWidget* parent = nullptr);
    ~TEditor() override;

    TEditorModel& Model() { return *model_; }
    const TEditorModel& Model() const { return *model_; }

    // The complete property set (see TEditorExProp).
    TEditorProps Properties() const;
    void SetProperties(const TEditorProps& props);

    // Shares master's text: both show and edit the same lines with their own caret and scroll.
    void ShareTextWith(TEditor& master);

    // Text and lines.
    long long LineCount() const { return model_->Lines().LineCount(); }
    std::string GetLineString(long long line) const { return model_->Lines().GetLine(line); }
    void SetLineString(long long line, std::string_view text) { model_->Lines().PutLine(line, text); }
    void AddLine(std::string_view text) { model_->Lines().AddLine(text); }
    std::string Text() const { return model_->Text(); }
    void SetText(std::string_view text) { model_->SetText(text); }
    void Clear() { model_->Clear(); }
    void AppendText(std::string_view text, bool caretToEnd = false) { model_->AppendText(text, caretToEnd); }
    void BeginUpdate() { model_->Lines().BeginUpdate(); }
    void EndUpdate() { model_->Lines().EndUpdate(); }
    void LoadFromFile(const std::string& cp932FileName);  // throws pek::Exception
    void SaveToFile(const std::string& cp932FileName);    // throws pek::Exception
    bool Modified() const { return model_->Lines().Modified(); }
    void SetModified(bool modified) { model_->Lines().SetModified(modified); }

    // Memory for finished cells copied into the pane instead of drawn anew; 0 draws every glyph.
    void SetCellCopyBudget(std::size_t bytes);

    // Properties.
    uint32_t Color() const { return props_.Color; }
    void SetColor(uint32_t color);
    const TEditorFont& Font() const { return props_.Font; }
    void SetFont(const TEditorFont& font);
    bool ReadOnly() const { return model_->ReadOnly(); }
    void SetReadOnly(bool on) { model_->SetReadOnly(on); }
    bool OverWrite() const { return model_->OverWrite(); }
    void SetOverWrite(bool on) { model_->SetOverWrite(on); }
    bool WordWrap() const { return model_->WordWrap(); }
    void SetWordWrap(bool on) { model_->SetWordWrap(on); }
    int WrapByte() const { return model_->WrapByte(); }
    void SetWrapByte(int columns) { model_->SetWrapByte(columns); }
    int TabSpaceCount() const { return model_->TabSpaceCount(); }
    void SetTabSpaceCount(int columns) { model_->SetTabSpaceCount(columns); }
    int UndoListMax() const { return model_->UndoListMax(); }
    void SetUndoListMax(int max) { model_->SetUndoListMax(max); }
    bool IsAutoColScroll() const { return model_->IsAutoColScroll(); }
    void SetIsAutoColScroll(bool on) { model_->SetIsAutoColScroll(on); }
    THitStyle HitStyle() const { return model_->HitStyle(); }
    void SetHitStyle(THitStyle style) { model_->SetHitStyle(style); }
    TEditorView View() const;
    void SetView(const TEditorView& view);
    std::string Commenter() const { return model_->HighlightRules().Commenter; }
    void SetCommenter(std::string_view commenter);
    void ClearBrackets();
    void AddBracket(std::string_view left, std::string_view right, uint32_t color);
    int BracketCount() const { return int(model_->HighlightRules().Brackets.size()); }
    TBracketItem Bracket(int index) const;
    std::vector<std::string> ReserveWordList() const { return model_->Highlighter().SortedReserveWords(); }
    void SetReserveWordList(const std::vector<std::string>& words);
    const TEditorMarks& Marks() const { return props_.Marks; }
    void SetMarks(const TEditorMarks& marks);
    bool Leftbar() const { return props_.Leftbar; }
    void SetLeftbar(bool on);
    bool Ruler() const { return props_.Ruler; }
    void SetRuler(bool on);
    bool Imagebar() const { return props_.Imagebar; }
    void SetImagebar(bool on);
    TScrollStyle ScrollBars() const { return props_.ScrollBars; }
    void SetScrollBars(TScrollStyle style);

    // Caret, scrolling, geometry.
    long long Row() const { return model_->Row(); }
    int Col() const { return model_->Col(); }
    void SetRow(long long row) { model_->SetRow(row); }
    void SetCol(int col) { model_->SetCol(col); }
    void SetCaret(long long row, int col) { model_->SetCaret(row, col); }
    long long TopRow() const { return model_->TopRow(); }
    void SetTopRow(long long row) { model_->SetTopRow(row); }
    int TopCol() const { return model_->TopCol(); }
    void SetTopCol(int col) { model_->SetTopCol(col); }
    long long RowCount() const { return model_->RowCount(); }
    int ColCount() const { return model_->ColCount(); }
    void ScrollToRow(long long row);
    void ScrollToEnd() { model_->ScrollToEnd(); }
    long long RowAtPoint(QPoint point) const;             // in viewport coordinates
    TTextPos PosAtPoint(QPoint point) const;
    int LeftAreaWidth() const;
    int CellWidth() const { return cellW_; }
    // Whether the blinking caret is in its shown phase; the input method's text not yet committed.
    bool CaretShown() const { return caretShown_; }
    const QString& PreeditText() const { return preedit_; }
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    int CellHeight() const { return cellH_; }

    // Selection and editing.
    long long SelStart() const { return model_->SelStart(); }
    void SetSelStart(long long offset) { model_->SetSelStart(offset); }
    long long SelLength() const { return model_->SelLength(); }
    void SetSelLength(long long length) { model_->SetSelLength(length); }
    std::string SelText() const { return model_->SelText(); }
    void SetSelText(std::string_view text) { model_->SetSelText(text); }
    bool Selected() const { return model_->Selected(); }
    TSelectionMode SelectionMode() const { return model_->SelectionMode(); }
    void SetSelectionMode(TSelectionMode mode) { model_->SetSelectionMode(mode); }
    void SelectAll() { model_->SelectAll(); }
    void CutToClipboard() { model_->CutToClipboard(); }
    void CopyToClipboard() { model_->CopyToClipboard(); }
    void PasteFromClipboard() { model_->PasteFromClipboard(); }
    void Undo() { model_->Undo(); }
    void Redo() { model_->Redo(); }
    void ClearUndo() { model_->ClearUndo(); }

    // Row marks.
    uint16_t RowMarks(long long row) const { return model_->RowMarks(row); }
    void SetRowMarks(long long row, uint16_t marks) { model_->SetRowMarks(row, marks); }
    void AddRowMark(long long row, int mark) { model_->AddRowMark(row, mark); }
    void RemoveRowMark(long long row, int mark) { model_->RemoveRowMark(row, mark); }

    // The background colour of a row by its marks (clNone: the normal background).
    uint32_t RowBackground(long long row) const { return RowBackground(row, Row()); }

    // Events, assigned by the owner. OnKeyDown gets the Qt key code and may set it to 0 to stop
    // the control from acting on it; OnKeyPress gets the character (code page 932; "\r" for Enter,
    // "\b" for Backspace, "\t" for Tab, "\x1b" for Escape) and may empty it. A wheel handler sets
    // handled to stop the control from scrolling.
    std::function<void(TEditor* sender, int& key, Qt::KeyboardModifiers shift)> OnKeyDown;
    std::function<void(TEditor* sender, std::string& key)> OnKeyPress;
    std::function<void(TEditor* sender, Qt::KeyboardModifiers shift, QPoint pos, bool& handled)> OnMouseWheelDown;
    std::function<void(TEditor* sender, Qt::KeyboardModifiers shift, QPoint pos, bool& handled)> OnMouseWheelUp;
    std::function<void(TEditor* sender)> OnDblClick;
    // At the start of each refresh, with the earliest moment of the next one: text added now is
    // shown by this refresh, text added later by that one. True when more is expected by then:
    // the pane refreshes at that moment even if nothing has changed, so the handler can add it.
    std::function<bool(TEditor* sender, std::chrono::steady_clock::time_point nextRefresh)> OnRefreshing;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool focusNextPrevChild(bool next) override;

    virtual uint32_t RowBackground(long long row, long long caretRow) const;
    // Drawn after the text; TEditorEx draws its guide lines here.
    virtual void PaintOverlay(QPainter& painter);
    // Mouse hooks for dragging text out of the selection.
    virtual bool StartsDrag(QMouseEvent* event);
    virtual bool ContinuesDrag(QMouseEvent* event);

    TEditorProps props_;

private:
    void ApplyFont();
    void ApplyModelProperties(const TEditorProps& props);
    void ModelChanged();
    void ScheduleRefresh();
    void Refresh();
    void SyncScrollBars();
    void UpdateExtent();
    void KeyPressed(std::string key);
    void Blink();
    QRect CaretRect() const;  // in viewport coordinates
    void PaintLeftArea(QPainter& painter, const QRegion& dirty, long long rowsShown);
    void PaintRuler(QPainter& painter, int colsShown);

    std::unique_ptr<TEditorModel> model_;
    std::unique_ptr<TEditorClipboard> clipboard_;
    std::unique_ptr<TEditorRenderer> renderer_;
    QFont qfont_;
    int cellW_ = 7;
    int cellH_ = 15;
    int ascent_ = 12;
    int maxCols_ = 0;
    bool syncing_ = false;
    bool syncPending_ = false;
    bool feeding_ = false;  // OnRefreshing is adding text
    // What the pane shows once painted: a refresh compares it with the model to scroll the pixels
    // already there and repaint only the rows that changed.
    struct TShown {
        bool valid = false;
        long long topRow = 0;
        int topCol = 0;
        int left = 0;
        QSize size;
        long long caretRow = 0;
        TTextPos caret, anchor;
        TSelectionMode mode = TSelectionMode::smNormal;
        long long boxFirstRow = 0, boxLastRow = 0;
        int boxFirstCol = 0, boxEndCol = 0;
        TTextPos hitPos;
        long long hitLength = 0;
        std::string find;
        TSearchOptions options = 0;
        std::pair<TTextPos, TTextPos> paren;
    };
    TShown Shown() const;
    static bool SameView(const TShown& a, const TShown& b);
    TShown shown_;
    bool changed_ = false;         // the model changed since the last refresh
    QTimer* frame_ = nullptr;      // the next refresh, when the last one was less than a frame ago
    QElapsedTimer lastRefresh_;
    bool mouseSelecting_ = false;
    int wheelRest_ = 0;  // wheel angle not yet a whole notch
    QTimer* blink_ = nullptr;
    bool caretShown_ = true;
    bool caretMoved_ = false;
    TTextPos lastCaret_;
    QString preedit_;
    int preeditCursor_ = 0;
};

class TOleddEditor : public TEditor {
    Q_OBJECT
public:
    explicit TOleddEditor(QWidget* parent = nullptr);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool StartsDrag(QMouseEvent* event) override;
    bool ContinuesDrag(QMouseEvent* event) override;

private:
    QPoint dragStart_;
    bool dragArmed_ = false;
    bool droppedHere_ = false;
};

class TEditorEx : public TOleddEditor {
    Q_OBJECT
public:
    explicit TEditorEx(QWidget* parent = nullptr);
    ~TEditorEx() override;

    const TEditorExMarks& ExMarks() const { return props_.ExMarks; }
    void SetExMarks(const TEditorExMarks& marks);
    TSearchOptions ExSearchOptions() const { return Model().ExSearchOptions(); }
    void SetExSearchOptions(TSearchOptions options) { Model().SetExSearchOptions(options); }
    // Whether the regular-expression library could be loaded for this control.
    bool RegexAvailable() const { return regexLoaded_; }
    const std::vector<int>& VerticalLines() const { return props_.VerticalLines; }
    void SetVerticalLines(const std::vector<int>& columns);

    // Search.
    using TEditor::RowBackground;
    std::string FindString() const { return Model().FindString(); }
    void SetFindString(std::string_view s) { Model().SetFindString(s); }
    bool FindNext() { return Model().FindNext(); }
    bool FindPrev() { return Model().FindPrev(); }
    void HitToSelected() { Model().HitToSelected(); }
    long long HitSelLength() const { return Model().HitSelLength(); }

protected:
    uint32_t RowBackground(long long row, long long caretRow) const override;
    void PaintOverlay(QPainter& painter) override;

private:
    bool regexLoaded_ = false;
};

}  // namespace pek

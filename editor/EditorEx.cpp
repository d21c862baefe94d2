#include "editor/EditorEx.h"

#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include <algorithm>
#include <climits>

#include "editor/EditorRenderer.h"
#include "editor/EditorRowLayout.h"
#include "regex/Onig.h"
#include "platform/CodePage.h"

namespace pek {

namespace {

QColor ToQColor(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

// The system clipboard as the model sees it: code page 932 text.
class TSystemClipboard : public TEditorClipboard {
public:
    std::string GetText() override { return QStringToCp932(QGuiApplication::clipboard()->text()); }
    void SetText(const std::string& cp932) override { QGuiApplication::clipboard()->setText(Cp932ToQString(cp932)); }
};

// A scroll bar that repaints only when what it shows changes: a pane receiving text moves its
// range and value with every refresh while the thumb mostly stays on the same pixels.
class TQuietScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

    // Range, page and value at once: the thumb is judged where it ends up, not on the way.
    void Set(int maximum, int pageStep, int value)
    {
        setting_ = true;
        setRange(0, maximum);
        setPageStep(pageStep);
        setValue(value);
        setting_ = false;
        if (LookChanged()) update();
    }

protected:
    void sliderChange(SliderChange change) override
    {
        if (setting_) return;
        if (LookChanged() || change == SliderOrientationChange) QScrollBar::sliderChange(change);
    }

private:
    struct Look {
        QRect slider;
        bool range = false, up = false, down = false;  // the arrows look disabled at the ends
        bool operator==(const Look&) const = default;
    };
    bool LookChanged()
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        const Look look{style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                        minimum() < maximum(), value() > minimum(), value() < maximum()};
        return std::exchange(look_, look) != look;
    }
    Look look_;
    bool setting_ = false;
};

void SetScrollBar(QScrollBar* bar, int maximum, int pageStep, int value)
{
    if (auto* quiet = dynamic_cast<TQuietScrollBar*>(bar)) return quiet->Set(maximum, pageStep, value);
    bar->setRange(0, maximum);
    bar->setPageStep(pageStep);
    bar->setValue(value);
}

constexpr qint64 kFrameMs = 16;  // a screen refresh: painting more often only takes time from reading

// The pane font "Terminal" is a Windows bitmap font; a CJK monospace font draws the same grid.
QString FamilyFor(const std::string& name)
{
    if (name.empty() || name == "Terminal") return QStringLiteral("Noto Sans Mono CJK JP");
    return Cp932ToQString(name);
}

}  // namespace

// ---------------------------------------------------------------- TEditor

TEditor::TEditor(QWidget* parent)
    : QAbstractScrollArea(parent),
      model_(std::make_unique<TEditorModel>()),
      clipboard_(std::make_unique<TSystemClipboard>()),
      renderer_(std::make_unique<TEditorRenderer>())
{
    model_->SetClipboard(clipboard_.get());
    model_->OnChange = [this] { ModelChanged(); };
    blink_ = new QTimer(this);  // owned by this control
    connect(blink_, &QTimer::timeout, this, [this] { Blink(); });
    frame_ = new QTimer(this);  // owned by this control
    frame_->setSingleShot(true);
    connect(frame_, &QTimer::timeout, this, [this] { Refresh(); });
    setVerticalScrollBar(new TQuietScrollBar(Qt::Vertical));  // owned by this control
    setHorizontalScrollBar(new TQuietScrollBar(Qt::Horizontal));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    // Every paint fills what it paints; the pixels can then be scrolled rather than painted again.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    SetProperties(TEditorProps{});
}

TEditor::~TEditor()
{
    model_->OnChange = nullptr;
}

TEditorProps TEditor::Properties() const
{
    TEditorProps p = props_;
    p.ReadOnly = model_->ReadOnly();
    p.OverWrite = model_->OverWrite();
    p.WordWrap = model_->WordWrap();
    p.WrapOption.WrapByte = model_->WrapByte();
    p.TabSpaceCount = model_->TabSpaceCount();
    p.UndoListMax = model_->UndoListMax();
    p.IsAutoColScroll = model_->IsAutoColScroll();
    p.HitStyle = model_->HitStyle();
    p.ExSearchOptions = model_->ExSearchOptions();
    p.SelectionMode = model_->SelectionMode();
    p.View = View();
    p.ReserveWordList = ReserveWordList();
    return p;
}

void TEditor::SetProperties(const TEditorProps& props)
{
    props_ = props;
    ApplyModelProperties(props);
    ApplyFont();
    SetScrollBars(props.ScrollBars);
}

void TEditor::ApplyModelProperties(const TEditorProps& p)
{
    model_->SetReadOnly(p.ReadOnly);
    model_->SetOverWrite(p.OverWrite);
    model_->Lines().SetLayout({p.WordWrap, std::max(2, p.WrapOption.WrapByte), std::max(1, p.TabSpaceCount)});
    model_->SetUndoListMax(p.UndoListMax);
    model_->SetIsAutoColScroll(p.IsAutoColScroll);
    model_->SetHitStyle(p.HitStyle);
    model_->SetExSearchOptions(p.ExSearchOptions);
    model_->SetSelectionMode(p.SelectionMode);
    THighlightRules rules;
    rules.Commenter = p.View.Commenter;
    rules.Brackets = p.View.Brackets;
    rules.Url = p.View.Url;
    rules.Mail = p.View.Mail;
    rules.ReserveWords = p.ReserveWordList;
    model_->SetHighlightRules(rules);
}

void TEditor::ShareTextWith(TEditor& master)
{
    if (&master == this) return;
    model_->AttachLines(master.model_->SharedLines());
}

void TEditor::LoadFromFile(const std::string& cp932FileName)
{
    model_->Lines().LoadFromFile(cp932FileName);
    model_->ClearUndo();
}

void TEditor::SaveToFile(const std::string& cp932FileName) { model_->Lines().SaveToFile(cp932FileName); }

void TEditor::SetColor(uint32_t color)
{
    props_.Color = color;
    viewport()->update();
}

void TEditor::SetFont(const TEditorFont& font)
{
    props_.Font = font;
    ApplyFont();
}

TEditorView TEditor::View() const
{
    TEditorView v = props_.View;
    const auto& rules = model_->HighlightRules();
    v.Commenter = rules.Commenter;
    v.Brackets = rules.Brackets;
    v.Url = rules.Url;
    v.Mail = rules.Mail;
    return v;
}

void TEditor::SetView(const TEditorView& view)
{
    props_.View = view;
    THighlightRules rules = model_->HighlightRules();
    rules.Commenter = view.Commenter;
    rules.Brackets = view.Brackets;
    rules.Url = view.Url;
    rules.Mail = view.Mail;
    model_->SetHighlightRules(rules);
}

void TEditor::SetCommenter(std::string_view commenter)
{
    THighlightRules rules = model_->HighlightRules();
    rules.Commenter = std::string(commenter);
    model_->SetHighlightRules(rules);
}

void TEditor::ClearBrackets()
{
    THighlightRules rules = model_->HighlightRules();
    rules.Brackets.clear();
    model_->SetHighlightRules(rules);
}

void TEditor::AddBracket(std::string_view left, std::string_view right, uint32_t color)
{
    THighlightRules rules = model_->HighlightRules();
    rules.Brackets.push_back({std::string(left), std::string(right), color});
    model_->SetHighlightRules(rules);
}

TBracketItem TEditor::Bracket(int index) const
{
    const auto& b = model_->HighlightRules().Brackets;
    return index >= 0 && size_t(index) < b.size() ? b[size_t(index)] : TBracketItem{};
}

void TEditor::SetReserveWordList(const std::vector<std::string>& words)
{
    THighlightRules rules = model_->HighlightRules();
    rules.ReserveWords = words;
    model_->SetHighlightRules(rules);
}

void TEditor::SetMarks(const TEditorMarks& marks)
{
    props_.Marks = marks;
    viewport()->update();
}

void TEditor::SetLeftbar(bool on)
{
    props_.Leftbar = on;
    UpdateExtent();
}

void TEditor::SetRuler(bool on)
{
    props_.Ruler = on;
    UpdateExtent();
}

void TEditor::SetImagebar(bool on)
{
    props_.Imagebar = on;
    UpdateExtent();
}

void TEditor::SetScrollBars(TScrollStyle style)
{
    props_.ScrollBars = style;
    const bool h = style == TScrollStyle::ssHorizontal || style == TScrollStyle::ssBoth;
    const bool v = style == TScrollStyle::ssVertical || style == TScrollStyle::ssBoth;
    setHorizontalScrollBarPolicy(h ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(v ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    UpdateExtent();
}

void TEditor::ApplyFont()
{
    qfont_ = QFont(FamilyFor(props_.Font.Name));
    qfont_.setStyleHint(QFont::Monospace);
    qfont_.setFixedPitch(true);
    // Grey-scale edges, as the finished cells copied into the pane are drawn: colour fringes
    // would differ between a copied cell and one drawn in place.
    qfont_.setStyleStrategy(QFont::NoSubpixelAntialias);
    const int h = std::clamp(props_.Font.Height, -kMaxFontHeight, kMaxFontHeight);
    if (h < 0) qfont_.setPixelSize(-h);
    else if (h > 0) qfont_.setPixelSize(h);
    else qfont_.setPixelSize(13);
    qfont_.setBold(props_.Font.Style & fsBold);
    qfont_.setItalic(props_.Font.Style & fsItalic);
    renderer_->SetFont(qfont_);
    cellW_ = renderer_->Cell().width();
    cellH_ = renderer_->Cell().height();
    ascent_ = renderer_->Ascent();
    UpdateExtent();
}

int TEditor::LeftAreaWidth() const
{
    int w = 2;  // left margin
    if (props_.Imagebar) w += 2 * cellW_ + 4;
    if (props_.Leftbar) {
        int digits = 1;
        for (long long n = std::max<long long>(1, model_->Lines().LineCount()); n >= 10; n /= 10) ++digits;
        w += (std::max(digits, 4) + 1) * cellW_;
    }
    return w;
}

void TEditor::UpdateExtent()
{
    const int rulerH = props_.Ruler ? cellH_ : 0;
    const long long rows = std::max(1, (viewport()->height() - rulerH) / cellH_);
    const int cols = std::max(1, (viewport()->width() - LeftAreaWidth()) / cellW_);
    model_->SetVisibleExtent(rows, cols);
    SyncScrollBars();
    viewport()->update();
}

void TEditor::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateExtent();
}

void TEditor::ModelChanged()
{
    if (const TTextPos caret = model_->CaretPos(); caret != lastCaret_) {
        lastCaret_ = caret;
        caretShown_ = true;
        caretMoved_ = true;
    }
    changed_ = true;
    // Scroll bars and pixels follow at most once a frame: a flood of appends must not queue an
    // event per chunk, nor paint more often than a screen shows. A change made as a refresh
    // begins is shown by that refresh.
    if (syncPending_ || feeding_) return;
    syncPending_ = true;
    QMetaObject::invokeMethod(this, [this] {
        syncPending_ = false;
        ScheduleRefresh();
    }, Qt::QueuedConnection);
}

void TEditor::ScheduleRefresh()
{
    if (frame_->isActive()) return;
    const qint64 since = lastRefresh_.isValid() ? lastRefresh_.elapsed() : kFrameMs;
    if (since >= kFrameMs) Refresh();
    else frame_->start(int(kFrameMs - since));
}

TEditor::TShown TEditor::Shown() const
{
    TShown s;
    s.valid = true;
    s.topRow = model_->TopRow();
    s.topCol = model_->TopCol();
    s.left = LeftAreaWidth();
    s.size = viewport()->size();
    s.caretRow = model_->Row();
    s.caret = model_->CaretPos();
    s.anchor = model_->AnchorPos();
    s.mode = model_->SelectionMode();
    if (model_->Selected() && s.mode == TSelectionMode::smBox) {
        const TEditorModel::TBoxRect box = model_->BoxRect();
        s.boxFirstRow = box.firstRow;
        s.boxLastRow = box.lastRow;
        s.boxFirstCol = box.firstCol;
        s.boxEndCol = box.endCol;
    }
    s.hitPos = model_->HitPos();
    s.hitLength = model_->HitSelLength();
    s.find = model_->FindString();
    s.options = model_->ExSearchOptions();
    s.paren = props_.ExMarks.ParenMark.Visible ? model_->MatchingBrackets() : std::pair{TTextPos{-1, 0}, TTextPos{-1, 0}};
    return s;
}

// Whether only the rows, the caret and the bracket marks can differ between a and b.
bool TEditor::SameView(const TShown& a, const TShown& b)
{
    const bool selection = a.anchor != a.caret || b.anchor != b.caret;
    if (selection && (a.anchor != b.anchor || a.caret != b.caret || a.mode != b.mode || a.boxFirstRow != b.boxFirstRow ||
                      a.boxLastRow != b.boxLastRow || a.boxFirstCol != b.boxFirstCol || a.boxEndCol != b.boxEndCol))
        return false;
    return a.valid && b.valid && a.topCol == b.topCol && a.left == b.left && a.size == b.size && a.hitPos == b.hitPos &&
           a.hitLength == b.hitLength && a.find == b.find && a.options == b.options;
}

void TEditor::Refresh()
{
    bool expectMore = false;
    if (OnRefreshing) {
        // Whoever feeds the pane adds what it has first: this refresh shows it.
        struct TFeeding {
            QPointer<TEditor> pane;  // the handler may close the pane
            ~TFeeding()
            {
                if (pane) pane->feeding_ = false;
            }
        } feeding{this};
        feeding_ = true;
        expectMore = OnRefreshing(this, std::chrono::steady_clock::now() + std::chrono::milliseconds(kFrameMs));
        if (!feeding.pane) return;
    }
    frame_->stop();
    if (expectMore) frame_->start(int(kFrameMs));
    lastRefresh_.start();
    changed_ = false;
    SyncScrollBars();
    const long long changedLine = model_->FirstChangedLine();
    model_->ClearChangedLines();
    const TShown now = Shown();
    const TShown was = std::exchange(shown_, now);
    const int top = props_.Ruler ? cellH_ : 0;
    const QRect text(0, top, viewport()->width(), viewport()->height() - top);
    const long long rowsShown = text.height() / cellH_ + 1;
    const long long shift = now.topRow - was.topRow;
    if (!SameView(was, now) || shift <= -rowsShown || shift >= rowsShown) {
        viewport()->repaint();
        return;
    }
    // The rows that stay in view keep their pixels; the rows whose text changed, those that
    // scrolled into view and those the caret or a bracket mark left or went to are painted.
    if (shift != 0) viewport()->scroll(0, int(-shift * cellH_), text);
    QRegion dirty;
    const auto rows = [&](long long first, long long end) {
        first = std::max(first, now.topRow);
        end = std::min(end, now.topRow + rowsShown);
        if (first < end) dirty += QRect(0, top + int(first - now.topRow) * cellH_, text.width(), int(end - first) * cellH_);
    };
    if (shift > 0) rows(now.topRow + rowsShown - shift - 1, now.topRow + rowsShown);
    if (shift < 0) rows(now.topRow, now.topRow - shift + 1);
    const TEditorLines& lines = model_->Lines();
    if (changedLine < lines.LineCount()) rows(lines.FirstRowOfLine(changedLine), now.topRow + rowsShown);
    for (const long long row : {was.caretRow, now.caretRow}) rows(row, row + 1);
    for (const auto& marks : {was.paren, now.paren})
        for (const TTextPos& at : {marks.first, marks.second})
            if (at.line >= 0 && at.line < lines.LineCount()) rows(lines.RowOfPos(at), lines.RowOfPos(at) + 1);
    if (!dirty.isEmpty()) viewport()->repaint(dirty);
}

void TEditor::SyncScrollBars()
{
    if (syncing_) return;
    syncing_ = true;
    const long long rows = model_->Lines().RowCount();
    QScrollBar* v = verticalScrollBar();
    QScrollBar* h = horizontalScrollBar();
    // The bars' signals only tell the area what it set itself: the policies are always on or always
    // off, and a range change would relayout and repaint both bars on every refresh.
    const QSignalBlocker quietV(v), quietH(h);
    SetScrollBar(v, int(std::min<long long>(INT_MAX, std::max<long long>(0, rows - 1))), int(std::min<long long>(INT_MAX, model_->RowCount())),
                 int(std::min<long long>(INT_MAX, model_->TopRow())));
    const int width = model_->WordWrap() ? model_->WrapByte() : std::max(maxCols_, model_->Col() + 1);
    SetScrollBar(h, std::max(0, width - model_->ColCount() + 1), model_->ColCount(), model_->TopCol());
    syncing_ = false;
}

void TEditor::scrollContentsBy(int, int)
{
    if (syncing_) return;
    syncing_ = true;
    model_->SetTopRow(verticalScrollBar()->value());
    model_->SetTopCol(horizontalScrollBar()->value());
    syncing_ = false;
    viewport()->update();
}

void TEditor::ScrollToRow(long long row)
{
    model_->ScrollToRow(row);
    ModelChanged();
}

long long TEditor::RowAtPoint(QPoint point) const
{
    const int rulerH = props_.Ruler ? cellH_ : 0;
    const int y = std::max(0, point.y() - rulerH);
    return std::min(model_->TopRow() + y / cellH_, std::max<long long>(0, model_->Lines().RowCount() - 1));
}

TTextPos TEditor::PosAtPoint(QPoint point) const
{
    const long long row = RowAtPoint(point);
    const int x = point.x() - LeftAreaWidth();
    const int col = model_->TopCol() + std::max(0, (x + cellW_ / 2) / cellW_);
    return model_->Lines().PosOfRowCol(row, col);
}

uint32_t TEditor::RowBackground(long long, long long) const { return clNone; }

void TEditor::SetCellCopyBudget(std::size_t bytes)
{
    renderer_->SetCellCopyBudget(bytes);
    viewport()->update();
}

void TEditor::PaintOverlay(QPainter&) {}

void TEditor::paintEvent(QPaintEvent* event)
{
    const QRect area = viewport()->rect();
    const QRegion& dirty = event->region();  // a blinking caret repaints only its own cell
    if (changed_ || model_->Lines().Updating() || model_->FirstChangedLine() < model_->Lines().LineCount()) {
        // Painted as the text is now, not as the last refresh left it: the next refresh cannot go
        // by the pixels there.
        shown_.valid = false;
    }
    QPainter painter(viewport());
    const int left = LeftAreaWidth();
    const int top = props_.Ruler ? cellH_ : 0;
    const long long topRow = model_->TopRow();
    const int topCol = model_->TopCol();
    const long long rowsShown = (area.height() - top) / cellH_ + 1;
    const int colsShown = (area.width() - left) / cellW_ + 1;
    const long long caretRow = model_->Row();

    TRowLayouter rows(*model_, props_, topCol, colsShown);
    renderer_->Begin(painter, props_, {left, area.width(), topCol, colsShown, model_->Lines().Layout()});
    // What is to be painted outside the rows with text is filled once after them.
    QRegion rowsFilled;
    for (long long row = topRow; row < std::min(topRow + rowsShown, model_->Lines().RowCount()); ++row) {
        const QRect band(0, top + int(row - topRow) * cellH_, area.width(), cellH_);
        if (!dirty.intersects(band)) continue;
        const TRowLayout& laid = rows.Layout(row);
        maxCols_ = std::max(maxCols_, laid.endCol);
        renderer_->PaintRow(laid, band.y(), RowBackground(row, caretRow));
        rowsFilled += band;
    }
    renderer_->End(dirty - rowsFilled, area);

    // Caret, and the input method's text not yet committed, shown where it will go.
    const int caretCol = model_->Col();
    if (hasFocus() && caretRow >= topRow && caretRow < topRow + rowsShown && caretCol >= topCol && caretCol - topCol < colsShown) {
        using TCaret = TEditorRenderer::TCaret;
        const TCaret caret = !caretShown_ ? TCaret::Hidden : model_->OverWrite() ? TCaret::Underline : TCaret::Bar;
        const QPoint at(left + (caretCol - topCol) * cellW_, top + int(caretRow - topRow) * cellH_);
        renderer_->PaintCaret(at, caret, preedit_, preeditCursor_);
    }
    if (props_.Leftbar || props_.Imagebar) PaintLeftArea(painter, dirty, rowsShown);
    if (props_.Ruler) PaintRuler(painter, colsShown);
    PaintOverlay(painter);
}

// Mark images and line numbers.
void TEditor::PaintLeftArea(QPainter& painter, const QRegion& dirty, long long rowsShown)
{
    const TEditorLines& lines = model_->Lines();
    const int left = LeftAreaWidth();
    const int top = props_.Ruler ? cellH_ : 0;
    const long long topRow = model_->TopRow();
    TEditorRenderer::FillInBands(painter, dirty, QRect(0, top, left - 2, viewport()->height()), ToQColor(props_.Color).lighter(150));
    painter.setFont(qfont_);
    painter.setPen(ToQColor(props_.Font.Color));
    for (long long r = topRow; r < std::min(topRow + rowsShown, lines.RowCount()); ++r) {
        const int y = top + int(r - topRow) * cellH_;
        if (props_.Imagebar && RowMarks(r) != 0) painter.fillRect(QRect(2, y + 2, 2 * cellW_, cellH_ - 4), ToQColor(clYellow));
        if (props_.Leftbar) {
            const TRowInfo info = lines.RowInfo(r);
            if (info.index == 0) {
                const QString number = QString::number(info.line + 1);
                painter.drawText(QRect(0, y, left - 2 - cellW_ / 2, cellH_), Qt::AlignRight | Qt::AlignVCenter, number);
            }
        }
    }
}

void TEditor::PaintRuler(QPainter& painter, int colsShown)
{
    const int left = LeftAreaWidth();
    const int topCol = model_->TopCol();
    painter.fillRect(QRect(0, 0, viewport()->width(), cellH_), ToQColor(props_.Color).lighter(150));
    painter.setPen(ToQColor(props_.Font.Color));
    for (int c = topCol - topCol % 10; c < topCol + colsShown; c += 10) {
        if (c < topCol) continue;
        const int x = left + (c - topCol) * cellW_;
        painter.drawLine(x, cellH_ / 2, x, cellH_);
        painter.drawText(QPointF(x + 2, ascent_), QString::number(c));
    }
}

void TEditor::KeyPressed(std::string key)
{
    if (OnKeyPress) OnKeyPress(this, key);
    if (key.empty() || model_->ReadOnly()) return;
    if (key == "\r") model_->TypeText("\r\n");
    else if (key == "\b") model_->DeleteBack();
    else if (key == "\t") model_->TypeText("\t");
    else if (static_cast<unsigned char>(key[0]) >= 0x20 && key[0] != 0x7F) model_->TypeText(key);
}

void TEditor::keyPressEvent(QKeyEvent* event)
{
    int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (OnKeyDown) OnKeyDown(this, key, mods);
    if (key == 0) return;
    const bool shift = mods & Qt::ShiftModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    const bool editable = !model_->ReadOnly();
    auto move = [&](TCaretMove m) { model_->MoveCaret(m, shift); };
    if (event->matches(QKeySequence::Copy)) model_->CopyToClipboard();
    else if (event->matches(QKeySequence::Cut)) { if (editable) model_->CutToClipboard(); else model_->CopyToClipboard(); }
    else if (event->matches(QKeySequence::Paste)) { if (editable) model_->PasteFromClipboard(); }
    else if (event->matches(QKeySequence::SelectAll)) model_->SelectAll();
    else if (event->matches(QKeySequence::Undo)) { if (editable) model_->Undo(); }
    else if (event->matches(QKeySequence::Redo)) { if (editable) model_->Redo(); }
    else {
        switch (key) {
        case Qt::Key_Left: move(ctrl ? TCaretMove::WordLeft : TCaretMove::Left); break;
        case Qt::Key_Right: move(ctrl ? TCaretMove::WordRight : TCaretMove::Right); break;
        case Qt::Key_Up: move(TCaretMove::Up); break;
        case Qt::Key_Down: move(TCaretMove::Down); break;
        case Qt::Key_Home: move(ctrl ? TCaretMove::TextHome : TCaretMove::RowHome); break;
        case Qt::Key_End: move(ctrl ? TCaretMove::TextEnd : TCaretMove::RowEnd); break;
        case Qt::Key_PageUp: move(TCaretMove::PageUp); break;
        case Qt::Key_PageDown: move(TCaretMove::PageDown); break;
        case Qt::Key_Insert: model_->SetOverWrite(!model_->OverWrite()); viewport()->update(); break;
        case Qt::Key_Delete: if (editable) model_->DeleteForward(); break;
        case Qt::Key_Return:
        case Qt::Key_Enter: KeyPressed("\r"); break;
        case Qt::Key_Backspace: KeyPressed("\b"); break;
        case Qt::Key_Tab: KeyPressed("\t"); break;
        case Qt::Key_Escape: KeyPressed("\x1b"); break;
        default: {
            const QString text = event->text();
            if (!text.isEmpty() && !ctrl && text[0].isPrint()) KeyPressed(QStringToCp932(text));
            else QAbstractScrollArea::keyPressEvent(event);
            return;
        }
        }
    }
    event->accept();
}

void TEditor::inputMethodEvent(QInputMethodEvent* event)
{
    preedit_ = event->preeditString();
    preeditCursor_ = int(preedit_.size());
    for (const auto& a : event->attributes()) {
        if (a.type == QInputMethodEvent::Cursor) preeditCursor_ = std::clamp(a.start, 0, int(preedit_.size()));
    }
    if (!event->commitString().isEmpty()) KeyPressed(QStringToCp932(event->commitString()));
    viewport()->update();
    event->accept();
}

bool TEditor::focusNextPrevChild(bool) { return false; }  // Tab is text here

bool TEditor::StartsDrag(QMouseEvent*) { return false; }
bool TEditor::ContinuesDrag(QMouseEvent*) { return false; }

void TEditor::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton) return;
    if (StartsDrag(event)) return;
    mouseSelecting_ = true;
    model_->SetCaretPos(PosAtPoint(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

void TEditor::mouseMoveEvent(QMouseEvent* event)
{
    if (ContinuesDrag(event)) return;
    if (!mouseSelecting_ || !(event->buttons() & Qt::LeftButton)) return;
    QPoint p = event->position().toPoint();
    // Above or below the window the caret row scrolls into view.
    if (p.y() < 0) model_->SetTopRow(model_->TopRow() - 1);
    else if (p.y() >= viewport()->height()) model_->SetTopRow(model_->TopRow() + 1);
    p.setY(std::clamp(p.y(), 0, std::max(0, viewport()->height() - 1)));
    model_->SetCaretPos(PosAtPoint(p), true);
}

void TEditor::mouseReleaseEvent(QMouseEvent*) { mouseSelecting_ = false; }

void TEditor::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    model_->SetCaretPos(PosAtPoint(event->position().toPoint()));
    model_->SelectWordFromCaret();
    if (OnDblClick) OnDblClick(this);
}

void TEditor::wheelEvent(QWheelEvent* event)
{
    // A notch is 120 units: touchpads send a notch in small pieces, some mice two at once. Each
    // whole notch is one owner event and, unless the owner takes it, one scroll step.
    const int delta = event->angleDelta().y();
    event->accept();
    if (delta == 0) return;
    if ((delta < 0) != (wheelRest_ < 0)) wheelRest_ = 0;  // a turn the other way starts afresh
    wheelRest_ += delta;
    constexpr int kNotch = 120;
    const int lines = std::max(1, QApplication::wheelScrollLines());
    const QPoint pos = event->position().toPoint();
    while (wheelRest_ <= -kNotch || wheelRest_ >= kNotch) {
        const bool down = wheelRest_ < 0;
        wheelRest_ += down ? kNotch : -kNotch;
        bool handled = false;
        if (down && OnMouseWheelDown) OnMouseWheelDown(this, event->modifiers(), pos, handled);
        if (!down && OnMouseWheelUp) OnMouseWheelUp(this, event->modifiers(), pos, handled);
        if (!handled) model_->SetTopRow(model_->TopRow() + (down ? lines : -lines));
    }
}

void TEditor::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    caretShown_ = true;
    // A flash time of 0 means a caret that does not blink.
    const int flash = QApplication::cursorFlashTime();
    if (flash > 0) blink_->start(flash / 2);
    viewport()->update();
}

void TEditor::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    blink_->stop();
    caretShown_ = true;
    viewport()->update();
}

QRect TEditor::CaretRect() const
{
    const int top = props_.Ruler ? cellH_ : 0;
    const long long row = std::clamp<long long>(model_->Row() - model_->TopRow(), -1, viewport()->height() / cellH_ + 1);
    const long long col = std::clamp<long long>(static_cast<long long>(model_->Col()) - model_->TopCol(), -1, viewport()->width() / cellW_ + 1);
    return {LeftAreaWidth() + int(col) * cellW_, top + int(row) * cellH_, 2, cellH_};
}

void TEditor::Blink()
{
    // A caret that has just moved stays on for a whole period, so it can be followed.
    caretShown_ = caretMoved_ || !caretShown_;
    caretMoved_ = false;
    if (changed_) return;  // the coming refresh paints the caret's row
    viewport()->update(CaretRect().adjusted(0, 0, cellW_, 0));  // wide enough for the overwrite caret
}

QVariant TEditor::inputMethodQuery(Qt::InputMethodQuery query) const
{
    if (query == Qt::ImCursorRectangle) {
        const QRect caret = CaretRect();
        return QRect(viewport()->mapTo(this, caret.topLeft()), caret.size());
    }
    if (query == Qt::ImFont) return qfont_;
    return QAbstractScrollArea::inputMethodQuery(query);
}

// ---------------------------------------------------------------- TOleddEditor

TOleddEditor::TOleddEditor(QWidget* parent) : TEditor(parent)
{
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
}

bool TOleddEditor::StartsDrag(QMouseEvent* event)
{
    dragArmed_ = false;
    if (!Selected() || SelectionMode() == TSelectionMode::smBox || (event->modifiers() & Qt::ShiftModifier)) return false;
    const TTextPos p = PosAtPoint(event->position().toPoint());
    const auto [a, z] = Model().OrderedSelection();
    if (p < a || p >= z) return false;
    dragArmed_ = true;
    dragStart_ = event->position().toPoint();
    return true;
}

bool TOleddEditor::ContinuesDrag(QMouseEvent* event)
{
    if (!dragArmed_) return false;
    if (!(event->buttons() & Qt::LeftButton)) {
        dragArmed_ = false;
        return false;
    }
    if ((event->position().toPoint() - dragStart_).manhattanLength() < QApplication::startDragDistance()) return true;
    dragArmed_ = false;
    auto mime = std::make_unique<QMimeData>();
    mime->setText(Cp932ToQString(SelText()));
    QDrag* drag = new QDrag(this);  // owned by Qt once exec returns
    drag->setMimeData(mime.release());
    droppedHere_ = false;
    const Qt::DropAction action = drag->exec(ReadOnly() ? Qt::CopyAction : (Qt::CopyAction | Qt::MoveAction), Qt::MoveAction);
    // A move into another control: the text leaves this one. A move within it was done by dropEvent.
    if (action == Qt::MoveAction && !droppedHere_ && !ReadOnly()) Model().DeleteSelection();
    return true;
}

void TOleddEditor::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasText() && !ReadOnly()) event->acceptProposedAction();
    else event->ignore();
}

void TOleddEditor::dragMoveEvent(QDragMoveEvent* event)
{
    if (!event->mimeData()->hasText() || ReadOnly()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void TOleddEditor::dropEvent(QDropEvent* event)
{
    if (!event->mimeData()->hasText() || ReadOnly()) {
        event->ignore();
        return;
    }
    const std::string text = QStringToCp932(event->mimeData()->text());
    const TTextPos at = PosAtPoint(event->position().toPoint());
    TEditorModel& m = Model();
    const bool internalMove = event->source() == this && event->dropAction() == Qt::MoveAction && m.Selected();
    if (internalMove) {
        if (!m.MoveSelectionTo(at)) {  // dropped onto itself
            event->ignore();
            return;
        }
        droppedHere_ = true;
    } else {
        m.SetCaretPos(at);
        m.InsertText(text);
    }
    event->setDropAction(internalMove ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
}

// ---------------------------------------------------------------- TEditorEx

TEditorEx::TEditorEx(QWidget* parent) : TOleddEditor(parent)
{
    regexLoaded_ = onig::Load();
    Model().SetRegexAvailable(regexLoaded_);
}

TEditorEx::~TEditorEx()
{
    if (regexLoaded_) onig::Unload();
}

void TEditorEx::SetExMarks(const TEditorExMarks& marks)
{
    props_.ExMarks = marks;
    viewport()->update();
}

void TEditorEx::SetVerticalLines(const std::vector<int>& columns)
{
    props_.VerticalLines = columns;
    viewport()->update();
}

uint32_t TEditorEx::RowBackground(long long row, long long caretRow) const
{
    const uint16_t marks = RowMarks(row);
    const long long line = props_.ExMarks.EvenLine.Visible ? Model().Lines().LineOfRow(row) : 0;
    return pek::RowBackground(props_.ExMarks, marks, row == caretRow, line);
}

void TEditorEx::PaintOverlay(QPainter& painter)
{
    if (props_.VerticalLines.empty()) return;
    painter.setPen(QColor(128, 128, 128));
    const int left = LeftAreaWidth();
    // Dotted every third pixel counted from the top of the text, so rows scrolled as pixels
    // match rows painted afresh.
    const int height = viewport()->height();
    const int phase = int((TopRow() % 3) * (CellHeight() % 3) % 3);
    QVector<QPoint> dots;
    for (const int c : props_.VerticalLines) {
        if (c < TopCol() || c - TopCol() > ColCount() + 1) continue;
        const int x = left + (c - TopCol()) * CellWidth();
        for (int y = (3 - phase) % 3; y < height; y += 3) dots.push_back({x, y});
    }
    painter.drawPoints(dots.data(), int(dots.size()));
}

}  // namespace pek

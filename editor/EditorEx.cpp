#include "editor/EditorEx.h"

#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QTimer>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <map>

#include "editor/EditorCellStyle.h"
#include "regex/Onig.h"
#include "platform/CodePage.h"

namespace pek {

namespace {

constexpr size_t kHighlightLimit = 64 * 1024;

QColor ToQColor(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }
QRgb ToRgb(uint32_t c) { return qRgb(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

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

// Qt hands a fill of more than about a hundred scanlines under a clip to worker threads, and
// waking them costs more than the fill: bands of a few rows stay on this thread.
void FillInBands(QPainter& painter, const QRegion& region, const QRect& within, const QColor& color)
{
    constexpr int kBand = 64;
    for (const QRect& r : region) {
        const QRect c = r & within;
        for (int y = c.top(); y <= c.bottom(); y += kBand)
            painter.fillRect(QRect(c.left(), y, c.width(), std::min(kBand, c.bottom() + 1 - y)), color);
    }
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
    : QAbstractScrollArea(parent), model_(std::make_unique<TEditorModel>()), clipboard_(std::make_unique<TSystemClipboard>())
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
    const QFontMetrics fm(qfont_);
    cellW_ = std::max(1, fm.horizontalAdvance(QLatin1Char('M')));
    cellH_ = std::max(1, fm.height());
    ascent_ = fm.ascent();
    for (int face = 0; face < 4; ++face) {
        QFont f = qfont_;
        f.setBold(face & fsBold);
        f.setItalic(face & fsItalic);
        rawFonts_[size_t(face)] = QRawFont::fromFont(f);
        glyphs_[size_t(face)].clear();
    }
    cells_.Clear();
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
    // event per chunk, nor paint more often than a screen shows.
    if (syncPending_) return;
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
    frame_->stop();
    lastRefresh_.start();
    changed_ = false;
    if (OnRefreshed) OnRefreshed(this, std::chrono::steady_clock::now() + std::chrono::milliseconds(kFrameMs));
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

char32_t TEditor::Decode(std::string_view bytes) const
{
    const unsigned char b0 = static_cast<unsigned char>(bytes[0]);
    if (bytes.size() == 1) {
        if (b0 < 0x20) return char32_t(0x2400 + b0);       // control pictures
        if (b0 < 0x7F) return char32_t(b0);
        if (b0 >= 0xA1 && b0 <= 0xDF) return char32_t(0xFF61 + (b0 - 0xA1));
        return char32_t(0xFFFD);
    }
    const quint32 key = quint32(b0) << 8 | static_cast<unsigned char>(bytes[1]);
    const auto it = decoded_.constFind(key);
    if (it != decoded_.constEnd()) return *it;
    std::string out;
    char32_t ch = 0xFFFD;
    if (Cp932ToUtf8Checked(bytes, out)) {
        const QString s = QString::fromUtf8(out.data(), qsizetype(out.size()));
        const auto ucs = s.toUcs4();
        if (ucs.size() == 1) ch = char32_t(ucs[0]);
    }
    decoded_.insert(key, ch);
    return ch;
}

quint32 TEditor::Glyph(char32_t ch, int face) const
{
    QHash<char32_t, quint32>& glyphs = glyphs_[size_t(face)];
    const auto it = glyphs.constFind(ch);
    if (it != glyphs.constEnd()) return *it;
    quint32 index = 0;
    const QRawFont& font = rawFonts_[size_t(face)];
    if (font.isValid()) {
        const char32_t one[1] = {ch};
        const auto indexes = font.glyphIndexesForString(QString::fromUcs4(one, 1));
        if (indexes.size() == 1) index = indexes[0];
    }
    glyphs.insert(ch, index);
    return index;
}

uint32_t TEditor::RowBackground(long long, long long) const { return clNone; }

void TEditor::SetCellCopyBudget(std::size_t bytes)
{
    cells_.SetBudget(bytes);
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
    const TEditorLines& lines = model_->Lines();
    const TWrapLayout& layout = lines.Layout();
    const int left = LeftAreaWidth();
    const int top = props_.Ruler ? cellH_ : 0;
    const long long topRow = model_->TopRow();
    const int topCol = model_->TopCol();
    const long long rowsShown = (area.height() - top) / cellH_ + 1;
    const int colsShown = (area.width() - left) / cellW_ + 1;
    const uint32_t textColor = props_.Font.Color;

    const bool selected = model_->Selected();
    const bool box = model_->SelectionMode() == TSelectionMode::smBox;
    const auto [selA, selZ] = model_->OrderedSelection();
    const TEditorModel::TBoxRect boxRect = selected && box ? model_->BoxRect() : TEditorModel::TBoxRect{};
    const long long caretRow = model_->Row();
    const int caretCol = model_->Col();
    const THitStyle hitStyle = model_->HitStyle();
    const TTextPos hitPos = model_->HitPos();
    const TTextPos hitEnd = model_->HasHit() ? model_->HitEnd() : hitPos;
    const TEditorColor& hitItem = props_.View.Colors.Hit;
    const bool findMarks = !model_->FindString().empty() &&
                           (props_.ExMarks.FindMark.Visible || hitItem.Color != clNone || hitItem.BkColor != clNone || hitItem.Style != 0);
    const auto [parenA, parenZ] = props_.ExMarks.ParenMark.Visible ? model_->MatchingBrackets() : std::pair{TTextPos{-1, 0}, TTextPos{-1, 0}};
    const auto& brackets = model_->HighlightRules().Brackets;
    const TEditorColor& selColor = props_.View.Colors.Select;

    struct Run {
        QVector<quint32> glyphs;
        QVector<QPointF> positions;
    };
    std::map<std::pair<uint32_t, int>, Run> runs;  // by colour and font face
    struct Fallback {
        QPointF at;
        char32_t ch;
        uint32_t color;
        int face;
    };
    std::vector<Fallback> fallbacks;
    struct Line {
        QLineF line;
        uint32_t color;
    };
    std::vector<Line> strokes;
    struct Mark {
        QRect cell;
        TCellMark kind;
        uint32_t color;
    };
    std::vector<Mark> marks;
    std::vector<uint32_t> scratchStarts;
    // A row with text fills its background around the cells copied into it, in runs of one colour;
    // what is to be painted outside such rows is filled once after them.
    QRegion rowsFilled;
    int spanY = 0;
    struct {
        int x0 = 0, x1 = 0;
        uint32_t color = clNone;
    } span;
    const auto flushSpan = [&] {
        if (span.x1 > span.x0) painter.fillRect(QRect(span.x0, spanY, span.x1 - span.x0, cellH_), ToQColor(span.color));
        span = {};
    };
    const auto fillSpan = [&](int x0, int x1, uint32_t color) {
        if (x1 <= x0) return;
        if (color == span.color && x0 == span.x1) {
            span.x1 = x1;
            return;
        }
        flushSpan();
        span = {x0, x1, color};
    };
    // Finished cells are copied where their pixels land one to one on a 32-bit surface.
    const QPaintDevice* surface = painter.paintEngine() ? painter.paintEngine()->paintDevice() : nullptr;
    const QImage::Format surfaceFormat = surface && surface->devType() == QInternal::Image ? static_cast<const QImage*>(surface)->format() : QImage::Format_Invalid;

    const bool copyCells = (surfaceFormat == QImage::Format_RGB32 || surfaceFormat == QImage::Format_ARGB32_Premultiplied) &&
                           painter.deviceTransform().type() <= QTransform::TxTranslate && surface->devicePixelRatio() == 1;

    if (lines.RowCount() > 0 && topRow < lines.RowCount()) {
        long long line = lines.LineOfRow(topRow);
        long long lineRow = lines.FirstRowOfLine(line);
        while (line < lines.LineCount() && lineRow < topRow + rowsShown) {
            const std::string_view s = lines.LineView(line);
            const std::vector<uint32_t>& starts = lines.RowStarts(line, scratchStarts);
            // A huge line (a stream without line breaks) is drawn without highlighting, so a screen
            // costs what it shows.
            const std::vector<TToken> tokens = s.size() <= kHighlightLimit ? model_->LineTokens(line) : std::vector<TToken>{};
            static const std::vector<TLineMatch> kNoMatches;
            const std::vector<TLineMatch>& matches = findMarks && s.size() <= kHighlightLimit ? model_->MatchesInLine(line) : kNoMatches;
            // Only the matches and tokens from the first visible row on are walked.
            const size_t firstByte = lineRow < topRow ? starts[size_t(std::min<long long>(topRow - lineRow, static_cast<long long>(starts.size()) - 1))] : 0;
            size_t ti = size_t(std::lower_bound(tokens.begin(), tokens.end(), firstByte, [](const TToken& t, size_t b) { return t.start + t.length <= b; }) - tokens.begin());
            size_t mi = size_t(std::lower_bound(matches.begin(), matches.end(), firstByte, [](const TLineMatch& m, size_t b) { return size_t(m.start + m.length) <= b; }) - matches.begin());
            for (size_t k = 0; k < starts.size(); ++k) {
                const long long row = lineRow + static_cast<long long>(k);
                const size_t rowStart = starts[k];
                const size_t rowEnd = k + 1 < starts.size() ? starts[k + 1] : s.size();
                if (row < topRow) continue;
                if (row >= topRow + rowsShown) break;
                const int y = top + int(row - topRow) * cellH_;
                if (!dirty.intersects(QRect(0, y, area.width(), cellH_))) continue;
                const uint32_t rowBg = RowBackground(row, caretRow);
                const uint32_t rowColor = rowBg != clNone ? rowBg : props_.Color;
                rowsFilled += QRect(0, y, area.width(), cellH_);
                spanY = y;
                fillSpan(0, left, props_.Color);
                int col = 0;
                for (size_t i = rowStart; i < rowEnd;) {
                    const int len = CharBytes(s, i);
                    const int w = CharColumns(s, i, col, layout);
                    if (col + w > topCol && col < topCol + colsShown) {
                        const TTextPos here{line, static_cast<long long>(i)};
                        TCellFacts facts;
                        while (ti < tokens.size() && tokens[ti].start + tokens[ti].length <= i) ++ti;
                        if (ti < tokens.size() && tokens[ti].start <= i) {
                            const TToken& t = tokens[ti];
                            facts.hasToken = true;
                            facts.kind = t.kind;
                            if (t.kind == TTokenKind::Range && t.bracket >= 0 && size_t(t.bracket) < brackets.size())
                                facts.rangeColor = brackets[size_t(t.bracket)].Color;
                        }
                        while (mi < matches.size() && size_t(matches[mi].start + matches[mi].length) <= i) ++mi;
                        facts.found = mi < matches.size() && size_t(matches[mi].start) <= i;
                        facts.hit = here >= hitPos && here < hitEnd;
                        facts.paren = here == parenA || here == parenZ;
                        facts.space = SpaceOf(s.substr(i, size_t(len)));
                        facts.selected = selected && (box ? (row >= boxRect.firstRow && row <= boxRect.lastRow && col >= boxRect.firstCol && col < boxRect.endCol)
                                                          : (here >= selA && here < selZ));
                        const TCellStyle st = CellStyle(props_, hitStyle, facts);
                        const int x = left + (col - topCol) * cellW_;
                        const QRect cell(x, y, w * cellW_, cellH_);
                        const bool drawn = facts.space == TCellMark::None && s[i] != '\t' && s[i] != ' ';
                        const int face = (st.style | props_.Font.Style) & (fsBold | fsItalic);
                        // An italic glyph leans into the next cell, and a cell cut by the left edge
                        // must not cover the margin: those are drawn over their background.
                        const bool copyable = copyCells && drawn && !(face & fsItalic) && col >= topCol;
                        const uint32_t bk = st.bkColor != clNone ? st.bkColor : rowBg != clNone ? rowBg : props_.Color;
                        const QImage* finished = nullptr;
                        char32_t ch = 0;
                        quint32 glyph = 0;
                        bool glyphKnown = false;
                        if (copyable) {
                            const QRgb fg = ToRgb(st.color), bg = ToRgb(bk);
                            const uint32_t bytes = len == 2 ? uint32_t(static_cast<unsigned char>(s[i])) << 8 | static_cast<unsigned char>(s[i + 1])
                                                            : static_cast<unsigned char>(s[i]);
                            const uint32_t code = uint32_t(w) << 24 | bytes;
                            if (const TGlyphCells::TQuick quick = cells_.Quick(code, face, fg, bg); quick.known) {
                                finished = quick.image;
                            } else {
                                ch = Decode(s.substr(i, size_t(len)));
                                glyph = Glyph(ch, face);
                                glyphKnown = true;
                                if (glyph != 0) finished = cells_.Get(rawFonts_[size_t(face)], face, glyph, w, QSize(cellW_, cellH_), ascent_, fg, bg);
                                cells_.RememberQuick(code, face, fg, bg, finished);
                            }
                        }
                        if (drawn && !finished && !glyphKnown) {
                            ch = Decode(s.substr(i, size_t(len)));
                            glyph = Glyph(ch, face);
                        }
                        if (finished) painter.drawImage(QPoint(x, y), *finished);
                        else if (st.bkColor != clNone) fillSpan(x, x + w * cellW_, st.bkColor);
                        else fillSpan(std::max(x, left), x + w * cellW_, rowColor);
                        if (st.style & fsUnderline) strokes.push_back({QLineF(x, y + cellH_ - 1, x + w * cellW_, y + cellH_ - 1), st.lineColor});
                        if (st.style & fsStrikeOut) strokes.push_back({QLineF(x, y + cellH_ / 2, x + w * cellW_, y + cellH_ / 2), st.lineColor});
                        if (st.mark != TCellMark::None) marks.push_back({cell, st.mark, st.markColor});
                        if (drawn && !finished) {
                            const QPointF at(x, y + ascent_);
                            if (glyph != 0) {
                                Run& run = runs[{st.color, face}];
                                run.glyphs.push_back(glyph);
                                run.positions.push_back(at);
                            } else {
                                fallbacks.push_back({at, ch, st.color, face});
                            }
                        }
                    }
                    col += w;
                    i += size_t(len);
                }
                maxCols_ = std::max(maxCols_, col);
                // An unwrapped row may end far off either side: only where it lands on screen matters.
                const int endX = int(std::clamp<long long>(left + (static_cast<long long>(col) - topCol) * cellW_, -2LL * cellW_,
                                                           static_cast<long long>(area.width()) + cellW_));
                fillSpan(std::max(endX, left), area.width(), rowColor);
                flushSpan();
                const bool lastLine = line + 1 >= lines.LineCount();
                const int cx = endX + cellW_ / 2, cy = y + cellH_ / 2;
                if (k + 1 == starts.size() && !lastLine) {
                    // The line break: selected like a character, marked when the mark is visible.
                    const TTextPos breakPos{line, static_cast<long long>(s.size())};
                    if (selected && !box && breakPos >= selA && breakPos < selZ)
                        painter.fillRect(QRect(endX, y, cellW_, cellH_), ToQColor(selColor.BkColor != clNone ? selColor.BkColor : textColor));
                    if (props_.Marks.RetMark.Visible && col >= topCol) {
                        painter.setPen(ToQColor(props_.Marks.RetMark.Color));
                        painter.drawLine(cx + 2, y + 3, cx + 2, cy + 2);
                        painter.drawLine(cx + 2, cy + 2, cx - 2, cy + 2);
                        painter.drawLine(cx - 2, cy + 2, cx, cy);
                        painter.drawLine(cx - 2, cy + 2, cx, cy + 4);
                    }
                } else if (k + 1 == starts.size() && lastLine && props_.Marks.EofMark.Visible) {
                    painter.setPen(ToQColor(props_.Marks.EofMark.Color));
                    painter.setFont(qfont_);
                    painter.drawText(QPointF(endX, y + ascent_), QStringLiteral("[EOF]"));
                } else if (k + 1 < starts.size() && props_.Marks.WrapMark.Visible && col >= topCol) {
                    // The row goes on in the next one.
                    painter.setPen(ToQColor(props_.Marks.WrapMark.Color));
                    painter.drawLine(cx - 3, cy, cx + 2, cy);
                    painter.drawLine(cx + 2, cy, cx, cy - 2);
                    painter.drawLine(cx + 2, cy, cx, cy + 2);
                }
                if (props_.Marks.HideMark.Visible && col > topCol + colsShown - 1) {
                    // Text beyond the right edge.
                    const int hx = left + (colsShown - 1) * cellW_;
                    painter.fillRect(QRect(hx, y, cellW_, cellH_), ToQColor(props_.Color));
                    painter.setPen(ToQColor(props_.Marks.HideMark.Color));
                    painter.drawLine(hx + 1, cy - 3, hx + cellW_ - 2, cy);
                    painter.drawLine(hx + cellW_ - 2, cy, hx + 1, cy + 3);
                }
                if (row == caretRow && props_.Marks.Underline.Visible)
                    strokes.push_back({QLineF(left, y + cellH_ - 1, area.width(), y + cellH_ - 1), props_.Marks.Underline.Color});
            }
            lineRow += static_cast<long long>(starts.size());
            ++line;
        }
    }
    FillInBands(painter, dirty - rowsFilled, area, ToQColor(props_.Color));

    for (const auto& [key, run] : runs) {
        QGlyphRun glyphRun;
        glyphRun.setRawFont(rawFonts_[size_t(key.second)]);
        glyphRun.setGlyphIndexes(run.glyphs);
        glyphRun.setPositions(run.positions);
        painter.setPen(ToQColor(key.first));
        painter.drawGlyphRun(QPointF(0, 0), glyphRun);
    }
    for (const auto& f : fallbacks) {
        QFont font = qfont_;
        font.setBold(f.face & fsBold);
        font.setItalic(f.face & fsItalic);
        painter.setFont(font);
        painter.setPen(ToQColor(f.color));
        const char32_t one[1] = {f.ch};
        painter.drawText(f.at, QString::fromUcs4(one, 1));
    }
    for (const auto& u : strokes) {
        painter.setPen(ToQColor(u.color));
        painter.drawLine(u.line);
    }
    for (const Mark& m : marks) {
        painter.setPen(ToQColor(m.color));
        const QRect& c = m.cell;
        const int my = c.center().y();
        if (m.kind == TCellMark::Tab) {
            painter.drawLine(c.left() + 1, my, std::min(c.right() - 1, c.left() + cellW_ - 1), my);
            painter.drawLine(c.left() + cellW_ / 2, my - 2, std::min(c.right() - 1, c.left() + cellW_ - 1), my);
            painter.drawLine(c.left() + cellW_ / 2, my + 2, std::min(c.right() - 1, c.left() + cellW_ - 1), my);
        } else if (m.kind == TCellMark::Space) {
            painter.drawPoint(c.center().x(), c.bottom() - cellH_ / 4);
        } else {
            painter.drawRect(c.adjusted(2, 2, -3, -3));
        }
    }

    // Caret, and the input method's text not yet committed, shown where it will go.
    if (hasFocus() && caretRow >= topRow && caretRow < topRow + rowsShown && caretCol >= topCol && caretCol - topCol < colsShown) {
        const int x = left + (caretCol - topCol) * cellW_;
        const int y = top + int(caretRow - topRow) * cellH_;
        const QColor c = ToQColor(textColor);
        if (!preedit_.isEmpty()) {
            painter.setFont(qfont_);
            const int width = painter.fontMetrics().horizontalAdvance(preedit_);
            painter.fillRect(QRect(x, y, width, cellH_), ToQColor(props_.Color));
            painter.setPen(c);
            painter.drawText(QPointF(x, y + ascent_), preedit_);
            painter.drawLine(x, y + cellH_ - 1, x + width, y + cellH_ - 1);
            const int cursor = painter.fontMetrics().horizontalAdvance(preedit_.left(preeditCursor_));
            painter.fillRect(QRect(x + cursor, y, 1, cellH_), c);
        } else if (caretShown_) {
            if (model_->OverWrite()) painter.fillRect(QRect(x, y + cellH_ - 3, cellW_, 3), c);
            else painter.fillRect(QRect(x, y, 2, cellH_), c);
        }
    }

    // Left area: mark images and line numbers.
    if (props_.Leftbar || props_.Imagebar) {
        FillInBands(painter, dirty, QRect(0, top, left - 2, area.height()), ToQColor(props_.Color).lighter(150));
        painter.setFont(qfont_);
        painter.setPen(ToQColor(textColor));
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
    if (props_.Ruler) {
        painter.fillRect(QRect(0, 0, area.width(), cellH_), ToQColor(props_.Color).lighter(150));
        painter.setPen(ToQColor(textColor));
        for (int c = topCol - topCol % 10; c < topCol + colsShown; c += 10) {
            if (c < topCol) continue;
            const int x = left + (c - topCol) * cellW_;
            painter.drawLine(x, cellH_ / 2, x, cellH_);
            painter.drawText(QPointF(x + 2, ascent_), QString::number(c));
        }
    }
    PaintOverlay(painter);
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

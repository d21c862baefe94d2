#include "scriptgui/MxBinEditor.h"

#include "platform/CodePage.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <utility>
#include <vector>

namespace pek {

namespace {

// The grids of this program: what one loads or publishes is told to the others here, never to
// other processes.
std::vector<TMxBinEditor*>& Grids()
{
    static std::vector<TMxBinEditor*> grids;
    return grids;
}

QString Hex(std::uint64_t value, int digits)
{
    return QString::number(value, 16).toUpper().rightJustified(digits, u'0');
}

}  // namespace

TMxBinEditor::TMxBinEditor(QWidget* parent) : QAbstractScrollArea(parent)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(11);
    setFont(font);
    const QFontMetrics metrics(font);
    geo_.W = std::max(1, metrics.horizontalAdvance(u'W'));
    geo_.RowHeight = std::max(1, metrics.height());
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Plain);
    setLineWidth(1);
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(1);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
    edit_.Document().OnChangeUndo = [this](TMxBinDocument&, std::size_t count) {
        if (OnChangeUndo) OnChangeUndo(*this, count);
    };
    edit_.OnMoveCell = [this] {
        viewport()->update();
        if (OnMoveCell) OnMoveCell(*this);
    };
    try {
        searchBlock_ = std::make_unique<TMxShareMemStream>(MxSearchTextName, MxSearchTextSize);
        ReadSearchText();
    } catch (const std::exception& e) {
        // Without the block the grid simply has no shared search text; why is said once.
        searchBlockError_ = e.what();
        static bool said = false;
        if (!std::exchange(said, true)) qWarning("%s", qUtf8Printable(Cp932ToQString(searchBlockError_)));
    }
    Grids().push_back(this);
    UpdateScrollBars();
}

TMxBinEditor::~TMxBinEditor() { std::erase(Grids(), this); }

void TMxBinEditor::ReadSearchText()
{
    if (!searchBlock_) return;
    unsigned char head[2] = {0, 0};
    searchBlock_->Seek(0, TMxShareMemStream::TOrigin::Begin);
    if (searchBlock_->Read(head, 2) != 2) return;
    std::string text(head[0], '\0');
    text.resize(std::size_t(searchBlock_->Read(text.data(), std::int64_t(text.size()))));
    searchText_ = std::move(text);
    searchFlag_ = head[1];
}

void TMxBinEditor::PublishSearchText(const std::string& text, std::uint8_t flag)
{
    try {
        TMxShareMemStream block(MxSearchTextName, MxSearchTextSize);
        const std::string limited = text.substr(0, std::size_t(std::min<std::int64_t>(255, block.Size() - 2)));
        const unsigned char head[2] = {static_cast<unsigned char>(limited.size()), flag};
        block.Write(head, 2);
        block.Write(limited.data(), std::int64_t(limited.size()));
    } catch (const std::exception&) {
        return;
    }
    for (TMxBinEditor* grid : Grids()) {
        grid->ReadSearchText();
        if (grid->OnChangeSearchText) grid->OnChangeSearchText(*grid);
    }
}

void TMxBinEditor::LoadFromMemory(const void* bytes, std::int64_t count)
{
    edit_.Load(bytes, count);
    verticalScrollBar()->setValue(0);
    UpdateScrollBars();
    viewport()->update();
    if (OnFileOpen) OnFileOpen(*this);
    for (TMxBinEditor* grid : Grids())
        if (grid->OnFileOpenAnyInstance) grid->OnFileOpenAnyInstance(*grid);
    if (OnChangeFileSize) OnChangeFileSize(*this);
}

std::int64_t TMxBinEditor::SaveToMemory(void* buffer, std::int64_t count, bool keepHistory)
{
    return edit_.Document().Store(buffer, count, keepHistory);
}

void TMxBinEditor::SetRowDigits(int digits)
{
    geo_.RowDigits = std::clamp(digits, 1, 7);
    Relayout();
}
void TMxBinEditor::SetHideOffsetHeader(bool on) { geo_.HideOffsetHeader = on; Relayout(); }
void TMxBinEditor::SetHideRowCount(bool on) { geo_.HideRowCount = on; Relayout(); }
void TMxBinEditor::SetHideByteView(bool on) { geo_.HideByteView = on; Relayout(); }
void TMxBinEditor::SetColumnBytes(TMxColumnBytes bytes) { geo_.ColumnBytes = bytes; Relayout(); }

void TMxBinEditor::SetReadOnlyMode(bool on)
{
    edit_.SetReadOnly(on);
    viewport()->update();
    if (OnChangeReadOnlyMode) OnChangeReadOnlyMode(*this);
}

void TMxBinEditor::SetInsertMode(bool on)
{
    edit_.SetInsertMode(on);
    viewport()->update();
    if (OnChangeEditMode) OnChangeEditMode(*this);
}

void TMxBinEditor::SetInputMode(TMxInputMode mode)
{
    edit_.SetInputMode(mode);
    if (OnChangeEditMode) OnChangeEditMode(*this);
}

void TMxBinEditor::SetCharCode(TMxCharCode code)
{
    edit_.SetCharCode(code);
    viewport()->update();
}

void TMxBinEditor::Relayout()
{
    UpdateScrollBars();
    viewport()->update();
}

QSize TMxBinEditor::ContentSize() const
{
    const std::int64_t height = geo_.ContentHeight(edit_.RowCount());
    return {geo_.ContentWidth(), int(std::min<std::int64_t>(height, 1 << 24))};
}

int TMxBinEditor::VisibleRows() const
{
    return std::max(1, (viewport()->height() - geo_.HeaderHeight()) / geo_.RowHeight);
}

std::int64_t TMxBinEditor::TopRow() const { return std::int64_t(verticalScrollBar()->value()) + 1; }

void TMxBinEditor::UpdateScrollBars()
{
    const std::int64_t dataRows = edit_.RowCount() - 1;
    const int visible = VisibleRows();
    verticalScrollBar()->setPageStep(visible);
    verticalScrollBar()->setRange(0, int(std::clamp<std::int64_t>(dataRows - visible, 0, INT32_MAX)));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setRange(0, std::max(0, geo_.ContentWidth() - viewport()->width()));
}

void TMxBinEditor::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void TMxBinEditor::EnsureCursorVisible()
{
    const std::int64_t row = edit_.Cursor().Row;
    const std::int64_t top = TopRow();
    const int visible = VisibleRows();
    if (row < top) verticalScrollBar()->setValue(int(row - 1));
    else if (row >= top + visible) verticalScrollBar()->setValue(int(std::min<std::int64_t>(row - visible, INT32_MAX)));
}

TMxCell TMxBinEditor::CellAt(QPoint pos) const
{
    // The address and gap columns stay where they are when the bytes scroll sideways.
    const int x = pos.x() < geo_.ColLeft(2) ? pos.x() : pos.x() + horizontalScrollBar()->value();
    int col = geo_.ColumnAt(x);
    if (col == 19) col = std::min(17, (x - geo_.ColLeft(19)) / geo_.W + 2);
    col = col < 0 ? 17 : std::clamp(col, 2, 17);
    const int y = pos.y() - geo_.HeaderHeight();
    const std::int64_t row = y < 0 ? TopRow() - 1 : TopRow() + y / geo_.RowHeight;
    return {col, row};
}

void TMxBinEditor::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    const QColor fore = palette().color(QPalette::Text);
    const QColor back = palette().color(QPalette::Base);
    p.fillRect(viewport()->rect(), back);
    p.setFont(font());
    const int dx = -horizontalScrollBar()->value();
    const int rh = geo_.RowHeight;
    const int ascent = QFontMetrics(font()).ascent();
    const auto cell = [&](int col, int y) { return QRect(geo_.ColLeft(col) + dx, y, geo_.ColWidth(col), rh); };
    const auto text = [&](const QRect& r, const QString& s, const QColor& fg, const QColor& bg, int align = Qt::AlignLeft) {
        if (r.width() <= 0) return;
        p.fillRect(r, bg);
        p.setPen(fg);
        p.drawText(r, align | Qt::AlignVCenter | Qt::TextSingleLine, s);
    };
    if (!geo_.HideOffsetHeader) {
        for (int c = 2; c <= 17; ++c) text(cell(c, 0), "+" + Hex(std::uint64_t(c - 2), 1), Colors.Address, Colors.AddressBG);
        text(cell(19, 0), "0123456789ABCDEF", Colors.Address, Colors.AddressBG);
    }
    const TMxCell cursor = edit_.Cursor();
    const std::int64_t size = edit_.Size();
    const std::int64_t top = TopRow();
    const std::int64_t lastRow = edit_.RowCount() - 1;
    for (std::int64_t r = top; r <= lastRow && r < top + VisibleRows() + 1; ++r) {
        const int y = geo_.HeaderHeight() + int(r - top) * rh;
        const std::int64_t first = (r - 1) * 16;
        const std::string bytes = edit_.Document().Read(first, 16);
        const bool cursorRow = r == cursor.Row;
        const QColor rowFg = cursorRow ? Colors.CurrentLine : fore;
        const QColor rowBg = cursorRow ? Colors.CurrentLineBG : back;
        text(cell(0, y), Hex(std::uint64_t(first), geo_.RowDigits) + ":", Colors.Address, Colors.AddressBG, Qt::AlignRight);
        // The byte cells in runs of one colour, each run one fill and one text: a fixed-pitch
        // font puts every digit where its cell is.
        for (int i = 0; i < 16 && first + i < size;) {
            const bool selected = edit_.Selected(first + i);
            const int from = i;
            QString digits;
            for (; i < 16 && first + i < size && edit_.Selected(first + i) == selected; ++i) {
                digits += Hex(static_cast<unsigned char>(bytes[std::size_t(i)]), 2);
                if (i < 15) digits += QString(geo_.ColWidth(i + 2) / geo_.W - 2, u' ');
            }
            const QRect run(geo_.ColLeft(from + 2) + dx, y, geo_.ColLeft(i + 2) - geo_.ColLeft(from + 2), rh);
            p.fillRect(run, selected ? Colors.SelectBG : rowBg);
            p.setPen(selected ? Colors.Select : rowFg);
            p.drawText(run.left(), y + ascent, digits);
        }
        if (cursorRow && first + 16 > size) {
            const int left = geo_.ColLeft(int(std::max<std::int64_t>(0, size - first)) + 2);
            p.fillRect(QRect(left + dx, y, geo_.ColLeft(18) - left, rh), rowBg);
        }
        if (!geo_.HideByteView && first < size) {
            const std::string chars = edit_.RowChars(r);
            const QRect view = cell(19, y);
            p.fillRect(view, rowBg);
            p.setPen(rowFg);
            p.setClipRect(view);
            p.drawText(view.left(), y + ascent, Cp932ToQString(chars));
            p.setClipping(false);
            if (edit_.HasSelection()) {
                const std::int64_t from = std::max(edit_.SelStart(), first), to = std::min(edit_.SelLast(), first + 15);
                if (from <= to) {
                    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
                    p.fillRect(QRect(view.left() + int(from - first) * geo_.W, y, int(to - from + 1) * geo_.W, rh), Qt::white);
                    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
                }
            }
            if (cursorRow && cursor.Col - 2 < std::int64_t(chars.size())) {
                p.setPen(Colors.Caret == Qt::white ? fore : Colors.Caret);
                p.drawRect(view.left() + (cursor.Col - 2) * geo_.W, y, geo_.W - 1, rh - 1);
            }
        }
        if (ViewUnderLine && cursorRow && !edit_.HasSelection()) {
            p.setPen(Colors.UnderLine);
            p.drawLine(dx, y + rh - 1, geo_.ContentWidth() + dx, y + rh - 1);
        }
    }
    if (hasFocus() && cursor.Row >= top && cursor.Row < top + VisibleRows() + 1) {
        // The caret inverts what lies under it, so it shows on any colour.
        const QRect c = cell(cursor.Col, geo_.HeaderHeight() + int(cursor.Row - top) * rh);
        const int shift = edit_.PendingDigit() && edit_.InputMode() == TMxInputMode::imStrling ? geo_.W : 0;
        const int width = edit_.InsertMode() && !edit_.ReadOnly() ? 2 : geo_.W;
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(QRect(c.left() + shift, c.top(), width, rh), Qt::white);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    if (dx != 0) {
        // The address and gap columns stay in place over the bytes scrolled sideways under them.
        p.fillRect(QRect(0, 0, geo_.ColLeft(2), viewport()->height()), back);
        for (std::int64_t r = top; r <= lastRow && r < top + VisibleRows() + 1; ++r) {
            const int y = geo_.HeaderHeight() + int(r - top) * rh;
            text(QRect(geo_.ColLeft(0), y, geo_.ColWidth(0), rh), Hex(std::uint64_t((r - 1) * 16), geo_.RowDigits) + ":",
                 Colors.Address, Colors.AddressBG, Qt::AlignRight);
        }
    }
}

void TMxBinEditor::AfterEdit(std::int64_t oldSize)
{
    UpdateScrollBars();
    EnsureCursorVisible();
    viewport()->update();
    if (oldSize != edit_.Size() && OnChangeFileSize) OnChangeFileSize(*this);
}

void TMxBinEditor::CopyToClipboard(bool cut)
{
    const auto data = edit_.Copy();
    if (!data) return;
    auto mime = std::make_unique<QMimeData>();
    mime->setText(Cp932ToQString(data->Text));
    mime->setData(MxBinaryMimeType, QByteArray(data->Raw.data(), qsizetype(data->Raw.size())));
    QApplication::clipboard()->setMimeData(mime.release());
    if (cut) edit_.DeleteAtCursor();
}

void TMxBinEditor::PasteFromClipboard()
{
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    if (mime == nullptr || !mime->hasFormat(MxBinaryMimeType)) return;
    // The count is the private data's own length, whatever the text form says.
    const QByteArray raw = mime->data(MxBinaryMimeType);
    edit_.Paste(std::string_view(raw.constData(), std::size_t(raw.size())));
}

void TMxBinEditor::keyPressEvent(QKeyEvent* event)
{
    const std::int64_t oldSize = edit_.Size();
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    using K = TMxBinEdit::TKey;
    const auto move = [&](K key, bool extend) { edit_.Key(key, extend, ctrl, VisibleRows()); };
    switch (event->key()) {
    case Qt::Key_Left: case Qt::Key_Backspace: move(K::Left, shift); break;
    case Qt::Key_Backtab: move(K::Left, false); break;
    case Qt::Key_Right: move(K::Right, shift); break;
    case Qt::Key_Tab: move(K::Right, false); break;
    case Qt::Key_Up: move(K::Up, shift); break;
    case Qt::Key_Down: move(K::Down, shift); break;
    case Qt::Key_PageUp: move(K::PageUp, shift); break;
    case Qt::Key_PageDown: move(K::PageDown, shift); break;
    case Qt::Key_Space: move(shift ? K::PageUp : K::PageDown, false); break;
    case Qt::Key_Home: move(K::Home, shift); break;
    case Qt::Key_End: move(K::End, shift); break;
    case Qt::Key_Insert: SetInsertMode(!edit_.InsertMode()); break;
    case Qt::Key_Delete:
        if (ctrl) edit_.DeleteAtCursor();
        break;
    default:
        if (ctrl && event->key() == Qt::Key_C) CopyToClipboard(false);
        else if (ctrl && event->key() == Qt::Key_X && !edit_.ReadOnly()) CopyToClipboard(true);
        else if (ctrl && event->key() == Qt::Key_V) PasteFromClipboard();
        else if (ctrl && event->key() == Qt::Key_Z) edit_.Undo();
        else if (!ctrl && !event->text().isEmpty() && event->text()[0].unicode() < 0x80) edit_.Type(char(event->text()[0].unicode()));
        else {
            QAbstractScrollArea::keyPressEvent(event);
            return;
        }
    }
    AfterEdit(oldSize);
    event->accept();
}

void TMxBinEditor::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    setFocus();
    edit_.MoveTo(CellAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
    dragging_ = true;
    viewport()->update();
}

void TMxBinEditor::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging_ || edit_.Size() == 0) return;
    const TMxCell c = CellAt(event->position().toPoint());
    if (c.Row < TopRow()) verticalScrollBar()->setValue(verticalScrollBar()->value() - 1);
    edit_.MoveTo(c, true);
}

void TMxBinEditor::mouseReleaseEvent(QMouseEvent*) { dragging_ = false; }

void TMxBinEditor::wheelEvent(QWheelEvent* event)
{
    // One row per notch.
    verticalScrollBar()->setValue(verticalScrollBar()->value() - event->angleDelta().y() / 120);
    event->accept();
}

void TMxBinEditor::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TMxBinEditor::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

}  // namespace pek

#include "editor/EditorRenderer.h"

#include <QFontMetrics>
#include <QGlyphRun>
#include <QPaintEngine>
#include <QPainter>
#include <QRegion>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/CodePage.h"

namespace pek {

namespace {

QColor ToQColor(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }
QRgb ToRgb(uint32_t c) { return qRgb(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

}  // namespace

void TEditorRenderer::SetFont(const QFont& font)
{
    font_ = font;
    const QFontMetrics fm(font_);
    cellW_ = std::max(1, fm.horizontalAdvance(QLatin1Char('M')));
    cellH_ = std::max(1, fm.height());
    ascent_ = fm.ascent();
    for (int face = 0; face < 4; ++face) {
        QFont f = font_;
        f.setBold(face & fsBold);
        f.setItalic(face & fsItalic);
        rawFonts_[size_t(face)] = QRawFont::fromFont(f);
        glyphs_[size_t(face)].clear();
    }
    cells_.Clear();
}

void TEditorRenderer::FillInBands(QPainter& painter, const QRegion& region, const QRect& within, const QColor& color)
{
    constexpr int kBand = 64;
    for (const QRect& r : region) {
        const QRect c = r & within;
        for (int y = c.top(); y <= c.bottom(); y += kBand)
            painter.fillRect(QRect(c.left(), y, c.width(), std::min(kBand, c.bottom() + 1 - y)), color);
    }
}

char32_t TEditorRenderer::Decode(std::string_view bytes)
{
    const unsigned char b0 = static_cast<unsigned char>(bytes[0]);
    if (bytes.size() == 1) {
        if (b0 < 0x20) return char32_t(0x2400 + b0);  // control pictures
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

quint32 TEditorRenderer::Glyph(char32_t ch, int face)
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

void TEditorRenderer::Begin(QPainter& painter, const TEditorProps& props, const TFrame& frame)
{
    painter_ = &painter;
    props_ = &props;
    frame_ = frame;
    runs_.clear();
    fallbacks_.clear();
    strokes_.clear();
    marks_.clear();
    span_ = {};
    // Finished cells are copied where their pixels land one to one on a 32-bit surface.
    const QPaintDevice* surface = painter.paintEngine() ? painter.paintEngine()->paintDevice() : nullptr;
    const QImage::Format format =
        surface && surface->devType() == QInternal::Image ? static_cast<const QImage*>(surface)->format() : QImage::Format_Invalid;
    const QTransform& toDevice = painter.deviceTransform();
    copyCells_ = (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied) &&
                 toDevice.type() <= QTransform::TxTranslate && surface->devicePixelRatio() == 1;
    direct_ = {};
    if (copyCells_ && !painter.hasClipping() && toDevice.dx() == std::floor(toDevice.dx()) && toDevice.dy() == std::floor(toDevice.dy())) {
        // The raster engine detached the image when the painter began and draws through this
        // same pointer, so writing here cannot make a copy or touch another image's pixels.
        const QImage& image = *static_cast<const QImage*>(surface);
        direct_.bits = const_cast<uchar*>(image.constBits());
        direct_.bytesPerLine = image.bytesPerLine();
        direct_.offset = QPoint(int(toDevice.dx()), int(toDevice.dy()));
        const QRegion system = painter.paintEngine()->systemClip();
        direct_.clip = system.isEmpty() ? QRegion(image.rect()) : system & image.rect();
    }
}

void TEditorRenderer::FlushSpan()
{
    if (span_.x1 > span_.x0) painter_->fillRect(QRect(span_.x0, y_, span_.x1 - span_.x0, cellH_), ToQColor(span_.color));
    span_ = {};
}

void TEditorRenderer::FillSpan(int x0, int x1, uint32_t color)
{
    if (x1 <= x0) return;
    if (color == span_.color && x0 == span_.x1) {
        span_.x1 = x1;
        return;
    }
    FlushSpan();
    span_ = {x0, x1, color};
}

void TEditorRenderer::PaintRow(const TRowLayout& row, int y, uint32_t rowBackground)
{
    y_ = y;
    rowBg_ = rowBackground;
    rowColor_ = rowBackground != clNone ? rowBackground : props_->Color;
    FillSpan(0, frame_.left, props_->Color);
    direct_.row = false;
    if (direct_.bits) {
        const QRect text = QRect(frame_.left, y, frame_.width - frame_.left, cellH_).translated(direct_.offset);
        direct_.right = text.x() + text.width();
        for (const QRect& r : direct_.clip) direct_.row = direct_.row || r.contains(text);
    }
    for (const TRowRun& run : row.runs) PaintRun(row.text, run);
    PaintRowEnd(row);
}

// What the characters of one run share.
struct TEditorRenderer::TRunPaint {
    const TCellStyle& style;
    int face;
    QRgb fg, bg;
    bool drawn;
};

void TEditorRenderer::PaintRun(std::string_view text, const TRowRun& run)
{
    const TCellStyle& st = run.style;
    const uint32_t bk = st.bkColor != clNone ? st.bkColor : rowColor_;
    const TRunPaint look{st, (st.style | props_->Font.Style) & (fsBold | fsItalic), ToRgb(st.color), ToRgb(bk), !run.blank};
    int col = run.col;
    for (size_t i = run.start; i < size_t(run.start) + run.length;) {
        const int len = CharBytes(text, i);
        const int w = CharColumns(text, i, col, frame_.layout);
        PaintCell(text, i, len, col, w, look);
        col += w;
        i += size_t(len);
    }
}

// The finished cell of a character, looked up by its bytes first; decoded and glyph tell what was
// looked up on the way.
const QImage* TEditorRenderer::FinishedCell(std::string_view ch, int w, int face, QRgb fg, QRgb bg, char32_t& decoded,
                                            quint32& glyph, bool& glyphKnown)
{
    const uint32_t bytes = ch.size() == 2 ? uint32_t(static_cast<unsigned char>(ch[0])) << 8 | static_cast<unsigned char>(ch[1])
                                          : static_cast<unsigned char>(ch[0]);
    const uint32_t code = uint32_t(w) << 24 | bytes;
    if (const TGlyphCells::TQuick quick = cells_.Quick(code, face, fg, bg); quick.known) return quick.image;
    decoded = Decode(ch);
    glyph = Glyph(decoded, face);
    glyphKnown = true;
    const QImage* finished = nullptr;
    if (glyph != 0) finished = cells_.Get(rawFonts_[size_t(face)], face, glyph, w, QSize(cellW_, cellH_), ascent_, fg, bg);
    cells_.RememberQuick(code, face, fg, bg, finished);
    return finished;
}

void TEditorRenderer::PaintCell(std::string_view text, size_t i, int len, int col, int w, const TRunPaint& look)
{
    const TCellStyle& st = look.style;
    const int x = frame_.left + (col - frame_.topCol) * cellW_;
    const std::string_view bytes = text.substr(i, size_t(len));
    // An italic glyph leans into the next cell, and a cell cut by the left edge must not cover the
    // margin: those are drawn over their background.
    const bool copyable = copyCells_ && look.drawn && !(look.face & fsItalic) && col >= frame_.topCol;
    char32_t ch = 0;
    quint32 glyph = 0;
    bool glyphKnown = false;
    const QImage* finished = copyable ? FinishedCell(bytes, w, look.face, look.fg, look.bg, ch, glyph, glyphKnown) : nullptr;
    if (look.drawn && !finished && !glyphKnown) {
        ch = Decode(bytes);
        glyph = Glyph(ch, look.face);
    }
    if (finished) PlaceCell(*finished, x);
    else if (st.bkColor != clNone) FillSpan(x, x + w * cellW_, st.bkColor);
    else FillSpan(std::max(x, frame_.left), x + w * cellW_, rowColor_);
    if (st.style & fsUnderline) strokes_.push_back({QLineF(x, y_ + cellH_ - 1, x + w * cellW_, y_ + cellH_ - 1), st.lineColor});
    if (st.style & fsStrikeOut) strokes_.push_back({QLineF(x, y_ + cellH_ / 2, x + w * cellW_, y_ + cellH_ / 2), st.lineColor});
    if (st.mark != TCellMark::None) marks_.push_back({QRect(x, y_, w * cellW_, cellH_), st.mark, st.markColor});
    if (!look.drawn || finished) return;
    const QPointF at(x, y_ + ascent_);
    if (glyph != 0) {
        TGlyphs& run = runs_[{st.color, look.face}];
        run.glyphs.push_back(glyph);
        run.positions.push_back(at);
    } else {
        fallbacks_.push_back({at, ch, st.color, look.face});
    }
}

namespace {

// A cell's line is a few dozen bytes: fixed-size moves, the last one overlapping the one before,
// copy it without a call or a loop over pixels.
inline void CopyLine(uchar* to, const uchar* from, std::size_t bytes)
{
    if (bytes < 16) {
        if (bytes >= 8) {
            std::memcpy(to, from, 8);
            std::memcpy(to + bytes - 8, from + bytes - 8, 8);
        } else if (bytes >= 4) {
            std::memcpy(to, from, 4);
            std::memcpy(to + bytes - 4, from + bytes - 4, 4);
        }
        return;
    }
    std::size_t done = 0;
    for (; done + 16 < bytes; done += 16) std::memcpy(to + done, from + done, 16);
    std::memcpy(to + bytes - 16, from + bytes - 16, 16);
}

}  // namespace

void TEditorRenderer::PlaceCell(const QImage& cell, int x)
{
    if (direct_.row) CopyCell(cell, x);
    else painter_->drawImage(QPoint(x, y_), cell);
}

void TEditorRenderer::CopyCell(const QImage& cell, int x)
{
    const int left = x + direct_.offset.x();
    const int width = std::min(cell.width(), direct_.right - left);  // the pane's last column may be cut
    if (width <= 0) return;
    const int height = cell.height();
    const std::size_t bytes = std::size_t(width) * 4;
    const qsizetype fromLine = cell.bytesPerLine(), toLine = direct_.bytesPerLine;
    const uchar* from = cell.constBits();
    uchar* to = direct_.bits + (y_ + direct_.offset.y()) * toLine + qsizetype(left) * 4;
    if (bytes > 16 && bytes <= 32) {
        // The usual cell, four to eight pixels wide: two moves a line.
        for (int line = 0; line < height; ++line, from += fromLine, to += toLine) {
            std::memcpy(to, from, 16);
            std::memcpy(to + bytes - 16, from + bytes - 16, 16);
        }
        return;
    }
    for (int line = 0; line < height; ++line, from += fromLine, to += toLine) CopyLine(to, from, bytes);
}

void TEditorRenderer::DrawEndMark(QPainter& painter, TRowEndMark mark, QPoint cell, QSize size)
{
    const int cx = cell.x() + size.width() / 2, cy = cell.y() + size.height() / 2;
    if (mark == TRowEndMark::LineBreak) {
        painter.drawLine(cx + 2, cell.y() + 3, cx + 2, cy + 2);
        painter.drawLine(cx + 2, cy + 2, cx - 2, cy + 2);
        painter.drawLine(cx - 2, cy + 2, cx, cy);
        painter.drawLine(cx - 2, cy + 2, cx, cy + 4);
    } else if (mark == TRowEndMark::Wrapped) {
        painter.drawLine(cx - 3, cy, cx + 2, cy);
        painter.drawLine(cx + 2, cy, cx, cy - 2);
        painter.drawLine(cx + 2, cy, cx, cy + 2);
    }
}

void TEditorRenderer::PaintRowEnd(const TRowLayout& row)
{
    QPainter& painter = *painter_;
    const int y = y_;
    // An unwrapped row may end far off either side: only where it lands on screen matters.
    const int endX = int(std::clamp<long long>(frame_.left + (static_cast<long long>(row.endCol) - frame_.topCol) * cellW_,
                                               -2LL * cellW_, static_cast<long long>(frame_.width) + cellW_));
    FillSpan(std::max(endX, frame_.left), frame_.width, rowColor_);
    FlushSpan();
    if (row.breakColor != clNone) painter.fillRect(QRect(endX, y, cellW_, cellH_), ToQColor(row.breakColor));
    const TEditorMarks& marks = props_->Marks;
    const int cy = y + cellH_ / 2;
    switch (row.endMark) {
    case TRowEndMark::LineBreak:
    case TRowEndMark::Wrapped: {
        // Every row ends in one: the mark is drawn once into a cell and copied after that.
        const bool lineBreak = row.endMark == TRowEndMark::LineBreak;
        const QRgb color = ToRgb(lineBreak ? marks.RetMark.Color : marks.WrapMark.Color);
        const QRgb bg = ToRgb(row.breakColor != clNone ? row.breakColor : rowColor_);
        const auto draw = [&](QPainter& on, QPoint cell) {
            on.setPen(QColor::fromRgb(color));
            DrawEndMark(on, row.endMark, cell, QSize(cellW_, cellH_));
        };
        const QImage* finished = copyCells_ && endX >= frame_.left
                                     ? cells_.GetDrawn(lineBreak ? kLineBreakCell : kWrappedCell, QSize(cellW_, cellH_), color, bg, draw)
                                     : nullptr;
        if (finished) PlaceCell(*finished, endX);
        else draw(painter, QPoint(endX, y));
        break;
    }
    case TRowEndMark::EndOfText:
        painter.setPen(ToQColor(marks.EofMark.Color));
        painter.setFont(font_);
        painter.drawText(QPointF(endX, y + ascent_), QStringLiteral("[EOF]"));
        break;
    case TRowEndMark::None: break;
    }
    if (row.hiddenMark) {
        // Text beyond the right edge.
        const int hx = frame_.left + (frame_.colsShown - 1) * cellW_;
        painter.fillRect(QRect(hx, y, cellW_, cellH_), ToQColor(props_->Color));
        painter.setPen(ToQColor(marks.HideMark.Color));
        painter.drawLine(hx + 1, cy - 3, hx + cellW_ - 2, cy);
        painter.drawLine(hx + cellW_ - 2, cy, hx + 1, cy + 3);
    }
    if (row.caretUnderline)
        strokes_.push_back({QLineF(frame_.left, y + cellH_ - 1, frame_.width, y + cellH_ - 1), marks.Underline.Color});
}

void TEditorRenderer::End(const QRegion& uncovered, const QRect& area)
{
    QPainter& painter = *painter_;
    FillInBands(painter, uncovered, area, ToQColor(props_->Color));
    for (const auto& [key, run] : runs_) {
        QGlyphRun glyphRun;
        glyphRun.setRawFont(rawFonts_[size_t(key.second)]);
        glyphRun.setGlyphIndexes(run.glyphs);
        glyphRun.setPositions(run.positions);
        painter.setPen(ToQColor(key.first));
        painter.drawGlyphRun(QPointF(0, 0), glyphRun);
    }
    for (const TFallback& f : fallbacks_) {
        QFont font = font_;
        font.setBold(f.face & fsBold);
        font.setItalic(f.face & fsItalic);
        painter.setFont(font);
        painter.setPen(ToQColor(f.color));
        const char32_t one[1] = {f.ch};
        painter.drawText(f.at, QString::fromUcs4(one, 1));
    }
    for (const TStroke& s : strokes_) {
        painter.setPen(ToQColor(s.color));
        painter.drawLine(s.line);
    }
    for (const TMark& m : marks_) {
        painter.setPen(ToQColor(m.color));
        const QRect& c = m.cell;
        const int my = c.center().y();
        const int tip = std::min(c.right() - 1, c.left() + cellW_ - 1);
        if (m.kind == TCellMark::Tab) {
            painter.drawLine(c.left() + 1, my, tip, my);
            painter.drawLine(c.left() + cellW_ / 2, my - 2, tip, my);
            painter.drawLine(c.left() + cellW_ / 2, my + 2, tip, my);
        } else if (m.kind == TCellMark::Space) {
            painter.drawPoint(c.center().x(), c.bottom() - cellH_ / 4);
        } else {
            painter.drawRect(c.adjusted(2, 2, -3, -3));
        }
    }
}

void TEditorRenderer::PaintCaret(QPoint at, TCaret caret, const QString& preedit, int preeditCursor)
{
    QPainter& painter = *painter_;
    const int x = at.x(), y = at.y();
    const QColor c = ToQColor(props_->Font.Color);
    if (!preedit.isEmpty()) {
        painter.setFont(font_);
        const int width = painter.fontMetrics().horizontalAdvance(preedit);
        painter.fillRect(QRect(x, y, width, cellH_), ToQColor(props_->Color));
        painter.setPen(c);
        painter.drawText(QPointF(x, y + ascent_), preedit);
        painter.drawLine(x, y + cellH_ - 1, x + width, y + cellH_ - 1);
        const int cursor = painter.fontMetrics().horizontalAdvance(preedit.left(preeditCursor));
        painter.fillRect(QRect(x + cursor, y, 1, cellH_), c);
    } else if (caret == TCaret::Underline) {
        painter.fillRect(QRect(x, y + cellH_ - 3, cellW_, 3), c);
    } else if (caret == TCaret::Bar) {
        painter.fillRect(QRect(x, y, 2, cellH_), c);
    }
}

}  // namespace pek

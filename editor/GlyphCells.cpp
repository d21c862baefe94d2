#include "editor/GlyphCells.h"

#include <QGlyphRun>
#include <QPainter>

namespace pek {

const QImage* TGlyphCells::Get(const QRawFont& font, int face, quint32 glyph, int columns, QSize cell, int ascent, QRgb fg,
                               QRgb bg)
{
    const Key key{glyph, fg, bg, face, columns};
    if (const auto it = images_.find(key); it != images_.end()) return it->second.isNull() ? nullptr : &it->second;
    const QSize size(cell.width() * columns, cell.height());
    const std::size_t bytes = std::size_t(size.width()) * std::size_t(size.height()) * 4;
    if (bytes_ + bytes > budget_ || size.isEmpty()) return nullptr;
    // Drawn with a margin around the cell: a glyph whose ink reaches beyond its cell (a wide W
    // leaning into its neighbours) is remembered as one to draw in place, over what is around it.
    constexpr int kMargin = 4;
    QImage image(size + QSize(2 * kMargin, 2 * kMargin), QImage::Format_RGB32);
    image.fill(QColor::fromRgb(bg));
    {
        QPainter painter(&image);
        QGlyphRun run;
        run.setRawFont(font);
        run.setGlyphIndexes({glyph});
        run.setPositions({QPointF(kMargin, kMargin + ascent)});
        painter.setPen(QColor::fromRgb(fg));
        painter.drawGlyphRun(QPointF(0, 0), run);
    }
    const QRgb blank = image.pixel(0, 0);
    bool fits = true;
    for (int y = 0; y < image.height() && fits; ++y) {
        const bool inside = y >= kMargin && y < kMargin + size.height();
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (inside && x == kMargin) x += size.width();
            if (x < image.width() && row[x] != blank) {
                fits = false;
                break;
            }
        }
    }
    if (!fits) {
        images_.emplace(key, QImage());
        return nullptr;
    }
    bytes_ += bytes;
    return &images_.emplace(key, image.copy(QRect(QPoint(kMargin, kMargin), size))).first->second;
}

void TGlyphCells::Clear()
{
    images_.clear();
    bytes_ = 0;
}

void TGlyphCells::SetBudget(std::size_t bytes)
{
    Clear();
    budget_ = bytes;
}

}  // namespace pek

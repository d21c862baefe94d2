#include "editor/GlyphCells.h"

#include <QGlyphRun>
#include <QPainter>

namespace pek {

namespace {
constexpr int kMargin = 4;
}  // namespace

const QImage* TGlyphCells::Get(const QRawFont& font, int face, quint32 glyph, int columns, QSize cell, int ascent, QRgb fg,
                               QRgb bg)
{
    return Make(Key{glyph, fg, bg, face, columns}, QSize(cell.width() * columns, cell.height()), bg, [&](QPainter& painter) {
        QGlyphRun run;
        run.setRawFont(font);
        run.setGlyphIndexes({glyph});
        run.setPositions({QPointF(kMargin, kMargin + ascent)});
        painter.setPen(QColor::fromRgb(fg));
        painter.drawGlyphRun(QPointF(0, 0), run);
    });
}

const QImage* TGlyphCells::GetDrawn(quint32 id, QSize cell, QRgb fg, QRgb bg, const std::function<void(QPainter&, QPoint)>& draw)
{
    constexpr int kDrawnFace = 4;  // beyond the four font faces
    return Make(Key{id, fg, bg, kDrawnFace, 1}, cell, bg, [&](QPainter& painter) { draw(painter, QPoint(kMargin, kMargin)); });
}

template <typename Draw>
const QImage* TGlyphCells::Make(const Key& key, QSize size, QRgb bg, const Draw& draw)
{
    if (const auto it = images_.find(key); it != images_.end()) return it->second.isNull() ? nullptr : &it->second;
    const std::size_t bytes = std::size_t(size.width()) * std::size_t(size.height()) * 4;
    if (bytes_ + bytes > budget_ || size.isEmpty()) return nullptr;
    // Drawn with a margin around the cell: a character whose ink reaches beyond its cell (a wide W
    // leaning into its neighbours) is remembered as one to draw in place, over what is around it.
    QImage image(size + QSize(2 * kMargin, 2 * kMargin), QImage::Format_RGB32);
    image.fill(QColor::fromRgb(bg));
    {
        QPainter painter(&image);
        draw(painter);
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

namespace {
constexpr std::size_t kQuickSlots = 8192;
}

std::size_t TGlyphCells::QuickSlot(std::uint32_t code, int face, QRgb fg, QRgb bg)
{
    const std::uint64_t mixed = (std::uint64_t(code) << 2 | std::uint64_t(face)) * 0x9E3779B97F4A7C15ull ^ (std::uint64_t(fg) << 32 | bg) * 0xC2B2AE3D27D4EB4Full;
    return std::size_t(mixed >> 40) & (kQuickSlots - 1);
}

TGlyphCells::TQuick TGlyphCells::Quick(std::uint32_t code, int face, QRgb fg, QRgb bg) const
{
    if (quick_.empty()) return {};
    const QuickEntry& e = quick_[QuickSlot(code, face, fg, bg)];
    if (e.face != face || e.code != code || e.fg != fg || e.bg != bg) return {};
    return {true, e.image};
}

void TGlyphCells::RememberQuick(std::uint32_t code, int face, QRgb fg, QRgb bg, const QImage* image)
{
    if (quick_.empty()) quick_.resize(kQuickSlots);
    quick_[QuickSlot(code, face, fg, bg)] = {code, fg, bg, face, image};
}

void TGlyphCells::Clear()
{
    images_.clear();
    quick_.clear();
    bytes_ = 0;
}

void TGlyphCells::SetBudget(std::size_t bytes)
{
    Clear();
    budget_ = bytes;
}

}  // namespace pek

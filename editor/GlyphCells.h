#pragma once
// Cells drawn once and copied afterwards. Blending a glyph's coverage into the pane costs far more
// than copying the finished pixels: a pane scrolling text draws mostly the same few glyphs on the
// same colours, so each (glyph, face, colours) is drawn once into an image of its cell and copied
// from then on. The images stay within a byte budget; a glyph that no longer fits is drawn the
// ordinary way, so a stream of ever new characters never makes the cache churn.
#include <QImage>
#include <QRawFont>

class QPainter;

#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

namespace pek {

class TGlyphCells {
public:
    explicit TGlyphCells(std::size_t budgetBytes = 8u << 20) : budget_(budgetBytes) {}

    // The cell of `columns` cells of size `cell` with the glyph drawn at `ascent` in fg on bg;
    // null when the budget is spent or the glyph's ink reaches beyond its cells. The image stays
    // where it is until Clear or SetBudget.
    const QImage* Get(const QRawFont& font, int face, quint32 glyph, int columns, QSize cell, int ascent, QRgb fg, QRgb bg);
    // A cell drawn by `draw`, given the painter and the cell's top left, under an id of the
    // caller's (glyph ids are not shared with it); null as for Get.
    const QImage* GetDrawn(quint32 id, QSize cell, QRgb fg, QRgb bg, const std::function<void(QPainter&, QPoint)>& draw);
    // A quick look-up by the character's bytes, before its glyph is known: a small table in front of
    // the images that remembers the last answers (an image, or none to copy).
    struct TQuick {
        bool known = false;
        const QImage* image = nullptr;
    };
    TQuick Quick(std::uint32_t code, int face, QRgb fg, QRgb bg) const;
    void RememberQuick(std::uint32_t code, int face, QRgb fg, QRgb bg, const QImage* image);

    void Clear();
    void SetBudget(std::size_t bytes);

private:
    struct Key {
        quint32 glyph;
        QRgb fg, bg;
        int face, columns;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const noexcept
        {
            const std::uint64_t colours = std::uint64_t(k.fg) << 32 | k.bg;
            const std::uint64_t rest = std::uint64_t(k.glyph) << 8 | std::uint64_t(k.face) << 4 | std::uint64_t(k.columns);
            return std::hash<std::uint64_t>()(colours * 0x9E3779B97F4A7C15ull ^ rest);
        }
    };
    std::unordered_map<Key, QImage, KeyHash> images_;
    struct QuickEntry {
        std::uint32_t code = 0;
        QRgb fg = 0, bg = 0;
        int face = -1;  // -1: empty
        const QImage* image = nullptr;
    };
    template <typename Draw>
    const QImage* Make(const Key& key, QSize cell, QRgb bg, const Draw& draw);
    static std::size_t QuickSlot(std::uint32_t code, int face, QRgb fg, QRgb bg);
    std::vector<QuickEntry> quick_;
    std::size_t bytes_ = 0;
    std::size_t budget_;
};

}  // namespace pek

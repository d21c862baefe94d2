#pragma once
// Paints the laid-out rows of the editor pane: cell backgrounds in runs of one colour, finished
// cells copied from the cell cache, the other glyphs gathered into one glyph run per colour and
// face, the line marks, the caret and the input method's text. It owns the font's faces, the
// glyph look-ups and the cell cache.
#include <QFont>
#include <QHash>
#include <QLineF>
#include <QPointF>
#include <QRawFont>
#include <QRect>
#include <QRegion>
#include <QVector>

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "editor/EditorLayout.h"
#include "editor/EditorRowLayout.h"
#include "editor/GlyphCells.h"

class QPainter;

namespace pek {

class TEditorRenderer {
public:
    // The font the pane draws with; the cell size and the baseline follow from it. The cells
    // made so far are forgotten.
    void SetFont(const QFont& font);
    const QFont& Font() const { return font_; }
    QSize Cell() const { return {cellW_, cellH_}; }
    int Ascent() const { return ascent_; }
    // Memory for finished cells; 0 draws every glyph.
    void SetCellCopyBudget(std::size_t bytes) { cells_.SetBudget(bytes); }

    // Where the text goes in the pane being painted.
    struct TFrame {
        int left = 0;       // x of the first text column
        int width = 0;      // of the pane
        int topCol = 0;     // the first column in view
        int colsShown = 0;  // columns in view, the last one perhaps cut
        TWrapLayout layout;
    };
    // One paint: Begin, PaintRow for each row to paint, top to bottom, End, then the caret. The
    // painter and props must outlive the paint.
    void Begin(QPainter& painter, const TEditorProps& props, const TFrame& frame);
    // Paints the row's backgrounds, copied cells and line marks at once; its other glyphs, lines
    // and white-space marks are gathered for End.
    void PaintRow(const TRowLayout& row, int y, uint32_t rowBackground);
    // Fills `uncovered` (what no row painted) within area, then draws what the rows gathered:
    // glyphs over all backgrounds, so ink reaching into a neighbouring row is not covered.
    void End(const QRegion& uncovered, const QRect& area);

    enum class TCaret : uint8_t { Hidden, Bar, Underline };
    // The caret with its cell's top left at `at`, or the input method's text there when there is one.
    void PaintCaret(QPoint at, TCaret caret, const QString& preedit, int preeditCursor);

    // Qt hands a fill of more than about a hundred scanlines under a clip to worker threads, and
    // waking them costs more than the fill: bands of a few rows stay on this thread.
    static void FillInBands(QPainter& painter, const QRegion& region, const QRect& within, const QColor& color);

private:
    struct TRunPaint;
    void PaintRun(std::string_view text, const TRowRun& run);
    void PaintCell(std::string_view text, size_t i, int len, int col, int w, const TRunPaint& look);
    const QImage* FinishedCell(std::string_view ch, int w, int face, QRgb fg, QRgb bg, char32_t& decoded, quint32& glyph,
                               bool& glyphKnown);
    // A finished cell at x in the row being painted: copied by hand where the row allows it.
    void PlaceCell(const QImage& cell, int x);
    void CopyCell(const QImage& cell, int x);
    void PaintRowEnd(const TRowLayout& row);
    static void DrawEndMark(QPainter& painter, TRowEndMark mark, QPoint cell, QSize size);
    // Ids of the finished cells of the row-end marks, beyond any glyph id.
    static constexpr quint32 kLineBreakCell = 0xFFFF0001u, kWrappedCell = 0xFFFF0002u;
    void FillSpan(int x0, int x1, uint32_t color);
    void FlushSpan();
    char32_t Decode(std::string_view bytes);
    quint32 Glyph(char32_t ch, int face);  // face: fsBold and fsItalic bits

    QFont font_;
    std::array<QRawFont, 4> rawFonts_;  // regular, bold, italic, bold italic
    int cellW_ = 7;
    int cellH_ = 15;
    int ascent_ = 12;
    QHash<quint32, char32_t> decoded_;
    std::array<QHash<char32_t, quint32>, 4> glyphs_;
    TGlyphCells cells_;

    // The paint under way.
    QPainter* painter_ = nullptr;
    const TEditorProps* props_ = nullptr;
    TFrame frame_;
    bool copyCells_ = false;
    // Where finished cells are copied by hand rather than through the painter, which costs more
    // per cell than the copy: the painter's image, its offset and the area the paint may touch.
    struct {
        uchar* bits = nullptr;
        qsizetype bytesPerLine = 0;
        QPoint offset;
        QRegion clip;
        int right = 0;  // in the image, where the pane's row ends
        bool row = false;  // the row being painted lies wholly in the clip
    } direct_;
    int y_ = 0;
    uint32_t rowBg_ = clNone;
    uint32_t rowColor_ = clNone;
    // A row fills its background around the cells copied into it, in spans of one colour.
    struct {
        int x0 = 0, x1 = 0;
        uint32_t color = clNone;
    } span_;
    struct TGlyphs {
        QVector<quint32> glyphs;
        QVector<QPointF> positions;
    };
    std::map<std::pair<uint32_t, int>, TGlyphs> runs_;  // by colour and font face
    struct TFallback {
        QPointF at;
        char32_t ch;
        uint32_t color;
        int face;
    };
    std::vector<TFallback> fallbacks_;  // characters the font has no glyph for
    struct TStroke {
        QLineF line;
        uint32_t color;
    };
    std::vector<TStroke> strokes_;
    struct TMark {
        QRect cell;
        TCellMark kind;
        uint32_t color;
    };
    std::vector<TMark> marks_;
};

}  // namespace pek

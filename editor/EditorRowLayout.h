#pragma once
// One visible row of the pane in cells: the characters in view cut into runs that look alike, and
// what stands after the row's text. Nothing is painted here; the widget's renderer turns a row
// into pixels.
#include <cstdint>
#include <string_view>
#include <vector>

#include "editor/EditorCellStyle.h"
#include "editor/EditorModel.h"

namespace pek {

// Characters next to each other in a row that look the same.
struct TRowRun {
    uint32_t start = 0;   // first byte, within the line
    uint32_t length = 0;  // bytes
    int col = 0;          // display column of the first character, counted from the row's start
    bool blank = false;   // white space: no glyph, at most a mark
    TCellStyle style;
};

// The mark drawn right after a row's text.
enum class TRowEndMark : uint8_t { None, LineBreak, EndOfText, Wrapped };

struct TRowLayout {
    std::string_view text;         // the whole line, valid until the text changes
    std::vector<TRowRun> runs;     // the characters in the visible columns only
    int endCol = 0;                // display columns of the row's text
    TRowEndMark endMark = TRowEndMark::None;
    uint32_t breakColor = clNone;  // background of a selected line break
    bool hiddenMark = false;       // the text goes on beyond the right edge
    bool caretUnderline = false;
};

// Lays out the rows of one paint with the selection, the find matches, the current hit and the
// bracket marks as they are when it is made.
class TRowLayouter {
public:
    // The visible columns are [topCol, topCol + colsShown).
    TRowLayouter(TEditorModel& model, const TEditorProps& props, int topCol, int colsShown);

    // Row `row` of the text (0 <= row < RowCount). Rows asked for top to bottom share the work
    // per line; the result is valid until the next call.
    const TRowLayout& Layout(long long row);

private:
    void LoadLine(long long line, long long firstRow);
    void AddCell(long long row, size_t i, int len, int col, size_t& token, size_t& match);
    void EndOfRow(long long row, bool lastRowOfLine);

    TEditorModel& model_;
    const TEditorProps& props_;
    const int topCol_;
    const int colsShown_;
    const THitStyle hitStyle_;
    const bool selected_, box_, findMarks_;
    TTextPos selA_, selZ_, hitPos_, hitEnd_, parenA_, parenZ_;
    TEditorModel::TBoxRect boxRect_;
    long long caretRow_ = 0;

    long long line_ = -1;      // the line whose rows are being laid out
    long long lineRow_ = 0;    // its first row
    const std::vector<uint32_t>* starts_ = nullptr;
    std::vector<uint32_t> scratchStarts_;
    std::vector<TToken> tokens_;
    const std::vector<TLineMatch>* matches_ = nullptr;
    TRowLayout out_;
};

}  // namespace pek

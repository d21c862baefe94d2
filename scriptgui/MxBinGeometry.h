#pragma once
// Where the binary grid's columns and rows lie, in pixels, from the width of "W" and the row
// height: 20 columns (address, gap, 16 bytes, gap, characters), the header row on top.
#include <cstdint>

namespace pek {

enum class TMxColumnBytes { cb1byte, cb2byte, cb4byte, cb8byte, cb16byte };

struct TMxBinGeometry {
    int W = 8;
    int RowHeight = 16;
    int RowDigits = 7;
    bool HideOffsetHeader = false;
    bool HideRowCount = false;
    bool HideByteView = false;
    TMxColumnBytes ColumnBytes = TMxColumnBytes::cb1byte;

    int ColWidth(int col) const;
    int ColLeft(int col) const;
    int ContentWidth() const { return ColLeft(20); }
    int HeaderHeight() const { return HideOffsetHeader ? 0 : RowHeight; }
    std::int64_t ContentHeight(std::int64_t rowCount) const { return HeaderHeight() + (rowCount - 1) * std::int64_t(RowHeight); }
    // The column at x (content coordinates), -1 past the last.
    int ColumnAt(int x) const;
};

}  // namespace pek

#include "scriptgui/MxBinGeometry.h"

namespace pek {

int TMxBinGeometry::ColWidth(int col) const
{
    if (col == 0) return HideOffsetHeader || HideRowCount ? 0 : W * (RowDigits + 1) + 10;
    if (col == 1) return 10;
    if (col >= 2 && col <= 17) {
        const int group = 1 << int(ColumnBytes);
        return (col - 2 + 1) % group == 0 ? 3 * W : 2 * W;
    }
    if (col == 18) return HideOffsetHeader ? 3 * W : 2 * W;
    if (col == 19) return HideByteView ? 0 : 16 * W;
    return 0;
}

int TMxBinGeometry::ColLeft(int col) const
{
    int x = 0;
    for (int c = 0; c < col && c < 20; ++c) x += ColWidth(c);
    return x;
}

int TMxBinGeometry::ColumnAt(int x) const
{
    if (x < 0) return 0;
    int left = 0;
    for (int c = 0; c < 20; ++c) {
        left += ColWidth(c);
        if (x < left) return c;
    }
    return -1;
}

}  // namespace pek

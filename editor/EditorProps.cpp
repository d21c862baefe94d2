#include "editor/EditorProps.h"

namespace pek {

TEditorProps::TEditorProps()
{
    View.Colors.Reserve.Color = clRed;
    View.Colors.Comment.Color = clLime;
    View.Colors.Select = {clBlack, clYellow, 0};
    View.Colors.Url.Color = clYellow;
    View.Colors.Mail.Color = clYellow;
    Marks.RetMark = {clGray, true};
    Marks.Underline = {clYellow, false};
    Marks.EofMark = {clGray, false};
    Marks.WrapMark = {clGray, false};
    Marks.HideMark = {clGray, false};
    ExMarks.FindMark = {clGray, clNone, fsUnderline, true};
    ExMarks.Hit = {clYellow, clNone, fsUnderline, true};
    ExMarks.CurrentLine = {0x00404040, clNone, 0, false};
    ExMarks.DigitLine = {0x00800000, clNone, 0, true};
    ExMarks.ImageLine = {0x00404040, clNone, 0, false};
    ExMarks.Img0Line = {0x00008080, clNone, 0, true};
    ExMarks.Img1Line = {0x00800080, clNone, 0, true};
    ExMarks.Img2Line = {0x00808000, clNone, 0, true};
    ExMarks.Img3Line = {0x00000080, clNone, 0, true};
    ExMarks.Img4Line = {0x00008000, clNone, 0, true};
    ExMarks.Img5Line = {0x00505050, clNone, 0, true};
    ExMarks.EvenLine = {0x00202020, clNone, 0, false};
}

}  // namespace pek

#include "editor/EditorEx.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QScreen>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <random>

#include <gtest/gtest.h>

#include "platform/CodePage.h"

namespace pek {
namespace {

class EditorWidget : public testing::Test {
protected:
    void SetUp() override
    {
        editor.resize(400, 300);
        editor.show();
        editor.setFocus();
        QApplication::processEvents();
    }
    QPoint CellCenter(long long row, int col) const
    {
        return {editor.LeftAreaWidth() + col * editor.CellWidth() + editor.CellWidth() / 2,
                int(row - editor.TopRow()) * editor.CellHeight() + editor.CellHeight() / 2};
    }
    QImage Grab()
    {
        return editor.viewport()->grab().toImage();
    }
    TEditorEx editor;
};

TEST_F(EditorWidget, TypesSelectsCopiesAndPastesThroughTheKeyboard)
{
    QTest::keyClicks(editor.viewport(), "hello");
    EXPECT_EQ(editor.Text(), "hello");
    QTest::keyClick(&editor, Qt::Key_Return);
    // Text the key-name table does not know goes in as a key event carrying it.
    QKeyEvent kana(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8("あ"));
    QApplication::sendEvent(&editor, &kana);
    QTest::keyClicks(&editor, "1");
    EXPECT_EQ(editor.Text(), "hello\r\n\x82\xa0" "1");
    QTest::keyClick(&editor, Qt::Key_Up);
    QTest::keyClick(&editor, Qt::Key_End);
    for (int i = 0; i < 3; ++i) QTest::keyClick(&editor, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(editor.SelText(), "llo");
    QTest::keyClick(&editor, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("llo"));
    QTest::keyClick(&editor, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(&editor, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(editor.Text(), "hello\r\n\x82\xa0" "1llo");
    // Japanese text on the clipboard arrives as code page 932.
    QGuiApplication::clipboard()->setText(QString::fromUtf8("漢字"));
    QTest::keyClick(&editor, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(editor.GetLineString(1), "\x82\xa0" "1llo\x8a\xbf\x8e\x9a");
    QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(editor.GetLineString(1), "\x82\xa0" "1llo");
    QTest::keyClick(&editor, Qt::Key_Backspace);
    QTest::keyClick(&editor, Qt::Key_Home);
    QTest::keyClick(&editor, Qt::Key_Delete);
    EXPECT_EQ(editor.GetLineString(1), "1ll");
    EXPECT_TRUE(editor.Modified());
}

TEST_F(EditorWidget, CutAndSelectAllWithTheKeyboard)
{
    editor.SetText("abc\r\ndef");
    QTest::keyClick(&editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&editor, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(editor.Text(), "");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("abc\r\ndef"));
}

TEST_F(EditorWidget, ReadOnlyStopsTheUserButNotTheProgram)
{
    editor.SetReadOnly(true);
    std::string pressed;
    editor.OnKeyPress = [&](TEditor* sender, std::string& key) {
        EXPECT_EQ(sender, &editor);
        pressed += key;
    };
    QTest::keyClicks(&editor, "xy");
    QTest::keyClick(&editor, Qt::Key_Return);
    EXPECT_EQ(editor.Text(), "");
    EXPECT_EQ(pressed, "xy\r");
    editor.AppendText("received");
    EXPECT_EQ(editor.Text(), "received");
}

TEST_F(EditorWidget, KeyHandlersCanSwallowKeys)
{
    editor.OnKeyDown = [](TEditor*, int& key, Qt::KeyboardModifiers) {
        if (key == Qt::Key_A) key = 0;
    };
    editor.OnKeyPress = [](TEditor*, std::string& key) {
        if (key == "b") key.clear();
    };
    QTest::keyClicks(&editor, "abc");
    EXPECT_EQ(editor.Text(), "c");
}

TEST_F(EditorWidget, MouseClickPlacesTheCaretAndDragSelects)
{
    editor.SetText("first line\r\nsecond line");
    QTest::mouseClick(editor.viewport(), Qt::LeftButton, Qt::NoModifier, CellCenter(1, 3) - QPoint(editor.CellWidth() / 2, 0));
    EXPECT_EQ(editor.Row(), 1);
    EXPECT_EQ(editor.Col(), 3);
    QTest::mousePress(editor.viewport(), Qt::LeftButton, Qt::NoModifier, CellCenter(0, 0) - QPoint(editor.CellWidth() / 2, 0));
    QMouseEvent move(QEvent::MouseMove, CellCenter(0, 5) - QPoint(editor.CellWidth() / 2, 0),
                     editor.viewport()->mapToGlobal(CellCenter(0, 5)), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(editor.viewport(), &move);
    QTest::mouseRelease(editor.viewport(), Qt::LeftButton, Qt::NoModifier, CellCenter(0, 5));
    EXPECT_EQ(editor.SelText(), "first");
}

TEST_F(EditorWidget, DoubleClickSelectsTheWordAndTellsTheOwner)
{
    editor.SetText("alpha beta gamma");
    int clicks = 0;
    editor.OnDblClick = [&](TEditor*) { ++clicks; };
    QTest::mouseDClick(editor.viewport(), Qt::LeftButton, Qt::NoModifier, CellCenter(0, 7));
    EXPECT_EQ(editor.SelText(), "beta");
    EXPECT_EQ(clicks, 1);
}

TEST_F(EditorWidget, WheelEventsGoToTheOwnerFirst)
{
    std::string text;
    for (int i = 0; i < 100; ++i) text += "line " + std::to_string(i) + "\r\n";
    editor.SetText(text);
    int downs = 0, ups = 0;
    bool handle = true;
    editor.OnMouseWheelDown = [&](TEditor*, Qt::KeyboardModifiers, QPoint, bool& handled) {
        ++downs;
        handled = handle;
    };
    editor.OnMouseWheelUp = [&](TEditor*, Qt::KeyboardModifiers, QPoint, bool&) { ++ups; };
    auto wheel = [&](int delta) {
        QWheelEvent e(QPointF(10, 10), editor.viewport()->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(editor.viewport(), &e);
    };
    wheel(-120);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(editor.TopRow(), 0);
    handle = false;
    wheel(-120);
    EXPECT_EQ(editor.TopRow(), QApplication::wheelScrollLines());
    EXPECT_TRUE(QTest::qWaitFor([&] { return editor.verticalScrollBar()->value() == QApplication::wheelScrollLines(); }, 1000));
    wheel(120);
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(editor.TopRow(), 0);

    // Small pieces add up to a notch; a double notch scrolls twice; turning back drops the rest.
    const int step = QApplication::wheelScrollLines();
    struct Case {
        std::vector<int> deltas;
        int downs, rows;
    };
    for (const Case& c : std::vector<Case>{{{-40, -40}, 0, 0}, {{-40, -40, -40}, 1, step}, {{-240}, 2, 2 * step},
                                            {{-100, 60, -100}, 0, 0}, {{-30, -30, -30, -30, -30, -30, -30, -30}, 2, 2 * step}}) {
        editor.SetTopRow(0);
        downs = 0;
        wheel(1);
        wheel(-1);  // clears what a previous case left over
        for (int d : c.deltas) wheel(d);
        EXPECT_EQ(downs, c.downs) << c.deltas.size();
        EXPECT_EQ(editor.TopRow(), c.rows) << c.deltas.size();
    }
}

TEST_F(EditorWidget, CaretBlinksAndAMovedCaretShows)
{
    const int saved = QApplication::cursorFlashTime();
    QApplication::setCursorFlashTime(40);
    editor.clearFocus();
    editor.setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(editor.hasFocus());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !editor.CaretShown(); }, 2000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return editor.CaretShown(); }, 2000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !editor.CaretShown(); }, 2000));
    QTest::keyClick(&editor, Qt::Key_A);
    EXPECT_TRUE(editor.CaretShown());
    editor.clearFocus();
    QApplication::processEvents();
    EXPECT_TRUE(editor.CaretShown());
    QApplication::setCursorFlashTime(saved);
}

TEST_F(EditorWidget, InputMethodTextShowsAtTheCaretUntilCommitted)
{
    editor.SetText("ab");
    editor.SetCaret(0, 1);
    QInputMethodEvent preedit(QString::fromUtf8("\xe3\x81\x82"), {});
    QApplication::sendEvent(&editor, &preedit);
    EXPECT_EQ(editor.PreeditText(), QString::fromUtf8("\xe3\x81\x82"));
    EXPECT_EQ(editor.Text(), "ab");
    const QRect at = editor.inputMethodQuery(Qt::ImCursorRectangle).toRect();
    EXPECT_EQ(at.x(), editor.viewport()->x() + editor.LeftAreaWidth() + editor.CellWidth());
    QInputMethodEvent commit;
    commit.setCommitString(QString::fromUtf8("\xe3\x81\x82"));
    QApplication::sendEvent(&editor, &commit);
    EXPECT_TRUE(editor.PreeditText().isEmpty());
    EXPECT_EQ(editor.Text(), "a\x82\xa0" "b");
}

TEST_F(EditorWidget, ScrollBarMovesTheTopRow)
{
    std::string text;
    for (int i = 0; i < 100; ++i) text += "x\r\n";
    editor.SetText(text);
    // The bars follow the text at the next refresh.
    ASSERT_TRUE(QTest::qWaitFor([&] { return editor.verticalScrollBar()->maximum() == 100; }, 1000));
    editor.verticalScrollBar()->setValue(40);
    EXPECT_EQ(editor.TopRow(), 40);
    editor.SetTopRow(10);
    EXPECT_TRUE(QTest::qWaitFor([&] { return editor.verticalScrollBar()->value() == 10; }, 1000));
}

TEST_F(EditorWidget, ExtremeScrollPositionsPaintWithoutOverflow)
{
    editor.SetText("abc\r\n\tdef\r\nxyz");
    editor.SetCaret(1, 3);
    for (const long long at : {static_cast<long long>(INT_MAX), static_cast<long long>(INT_MIN), LLONG_MAX, 1LL}) {
        editor.SetTopCol(int(std::clamp<long long>(at, INT_MIN, INT_MAX)));
        editor.SetTopRow(at);
        editor.viewport()->repaint();
        (void)editor.inputMethodQuery(Qt::ImCursorRectangle);
        QApplication::processEvents();
        EXPECT_GE(editor.TopCol(), 0) << at;
        EXPECT_LE(editor.TopCol(), TEditorModel::kMaxTopCol) << at;
        EXPECT_GE(editor.TopRow(), 0) << at;
        EXPECT_LE(editor.TopRow(), 2) << at;
    }
}

TEST_F(EditorWidget, TextAddedInSmallPiecesIsOnScreenAfterARefresh)
{
    // What the screen holds after the pane scrolled its pixels and repainted some rows must be
    // what a paint of the whole pane gives, one refresh after any change.
    const int flash = QApplication::cursorFlashTime();
    QApplication::setCursorFlashTime(0);  // a caret that stays on, so both show it
    editor.clearFocus();
    editor.setFocus();
    editor.SetLeftbar(true);
    editor.SetVerticalLines({12});
    const auto onScreen = [&] {
        const QRect v = editor.viewport()->geometry();
        return editor.screen()->grabWindow(editor.winId(), v.x(), v.y(), v.width(), v.height()).toImage().convertToFormat(QImage::Format_RGB32);
    };
    const std::vector<std::string> pieces = {"ab", "c\r", "\n", "x(y)z\r\n", "\x82\xa0\x82", "\xa2 ", "long line " + std::string(90, 'w'), "\r\n\r\n", "]"};
    std::mt19937 random(17);
    for (int round = 0; round < 40; ++round) {
        for (int step = 0; step < 1 + int(random() % 12); ++step) {
            const std::string& piece = pieces[random() % pieces.size()];
            switch (random() % 8) {
            case 0: editor.SetTopRow(long(random() % uint32_t(editor.Model().Lines().RowCount()))); break;
            case 1: editor.SetCaret(long(random() % uint32_t(editor.Model().Lines().RowCount())), int(random() % 6)); break;
            case 2: editor.AppendText(piece); break;  // the caret stays where it is
            default:
                editor.AppendText(piece, true);
                editor.ScrollToEnd();
            }
        }
        QTest::qWait(20);
        QApplication::processEvents();
        ASSERT_TRUE(onScreen() == editor.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32)) << "round " << round;
    }
    QApplication::setCursorFlashTime(flash);
}

TEST_F(EditorWidget, CopiedCellsLookLikeGlyphsDrawnInPlace)
{
    // Finished cells copied into the pane, a budget that holds only some of them, and every glyph
    // drawn anew must give the same pixels: styles, faces, selection, wide characters, kana.
    TEditorProps props = editor.Properties();
    props.View.Colors.Reserve.Color = 0x0000FF;
    props.View.Colors.Reserve.Style = fsBold;
    props.View.Colors.Comment.Style = fsItalic;
    props.View.Colors.Int.BkColor = 0x00FFFF;
    editor.SetProperties(props);
    editor.SetCommenter("--");
    editor.SetReserveWordList({"if", "then"});
    // Also characters some fonts lack (control pictures, unassigned codes), drawn with stand-ins.
    editor.SetText("if x then 42 -- note\r\n\x82\xa0\x88\x9f abc \xb1\xb2 ~`|\x01\x1b\x85\x40\x87\x40\r\nWWW iii 0123456789 {}[]\r\n\tend");
    editor.SetSelStart(3);
    editor.SetSelLength(12);
    const auto render = [&](std::size_t budget) {
        editor.SetCellCopyBudget(budget);
        QImage image(editor.viewport()->size(), QImage::Format_RGB32);
        editor.viewport()->render(&image);
        return image;
    };
    for (int scene = 0; scene < 2; ++scene) {
        if (scene == 1) {
            // The caret's row marked, the text scrolled sideways past half a wide character, rows
            // wrapped (their end marks are copied cells too).
            editor.SetWrapByte(12);
            editor.SetWordWrap(true);
            props = editor.Properties();
            props.Marks.WrapMark.Visible = true;
            props.ExMarks.CurrentLine.Visible = true;
            props.ExMarks.CurrentLine.Color = 0x404040;
            editor.SetProperties(props);
            editor.SetCaret(1, 2);
            editor.SetTopCol(1);
        }
        const QImage drawn = render(0);
        EXPECT_TRUE(render(4u << 20) == drawn) << scene;
        EXPECT_TRUE(render(std::size_t(editor.CellWidth()) * std::size_t(editor.CellHeight()) * 4 * 5) == drawn) << scene;
    }
    // Cells copied straight into the image must keep to the area painted and land at the offset:
    // a whole row, part of a row, a band across rows cut mid-row.
    const int h = editor.CellHeight(), w = editor.CellWidth();
    const QRegion area = QRegion(0, 0, editor.viewport()->width(), h) + QRegion(3 * w + 2, h, 5 * w, h) + QRegion(w, 2 * h + h / 2, 9 * w, h);
    const QPoint offset(5, 3);
    const QImage drawn = render(0);
    editor.SetCellCopyBudget(4u << 20);
    QImage image(editor.viewport()->size() + QSize(10, 10), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    editor.viewport()->render(&image, offset, area);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QPoint at = QPoint(x, y) - offset;
            const QRgb want = area.contains(at) ? drawn.pixel(at) : QColor(Qt::magenta).rgb();
            ASSERT_EQ(image.pixel(x, y), want) << x << "," << y;
        }
}

TEST_F(EditorWidget, PaintsTextSelectionAndMarkedRows)
{
    const QColor background(0, 0, 0);
    editor.SetText("WWWW\r\nWWWW\r\nWWWW");
    QImage img = Grab();
    auto cellHas = [&](const QImage& image, long long row, int col, const QColor& color) {
        const QPoint c = CellCenter(row, col);
        for (int y = c.y() - editor.CellHeight() / 2; y < c.y() + editor.CellHeight() / 2; ++y)
            for (int x = c.x() - editor.CellWidth() / 2; x < c.x() + editor.CellWidth() / 2; ++x)
                if (image.pixelColor(x, y) == color) return true;
        return false;
    };
    auto cellOnly = [&](const QImage& image, long long row, int col, const QColor& color) {
        const QPoint c = CellCenter(row, col);
        for (int y = c.y() - editor.CellHeight() / 2; y < c.y() + editor.CellHeight() / 2; ++y)
            for (int x = c.x() - editor.CellWidth() / 2; x < c.x() + editor.CellWidth() / 2; ++x)
                if (image.pixelColor(x, y) != color) return false;
        return true;
    };
    EXPECT_FALSE(cellOnly(img, 0, 1, background));   // a glyph is drawn
    EXPECT_TRUE(cellOnly(img, 0, 10, background));   // nothing past the line
    editor.SetSelStart(0);
    editor.SetSelLength(2);
    img = Grab();
    EXPECT_TRUE(cellHas(img, 0, 0, QColor(255, 255, 0)));  // selection black on yellow
    EXPECT_FALSE(cellHas(img, 0, 3, QColor(255, 255, 0)));
    editor.AddRowMark(2, 10);
    editor.AddRowMark(2, 12);
    img = Grab();
    const uint32_t img0 = editor.ExMarks().Img0Line.Color;
    EXPECT_TRUE(cellHas(img, 2, 20, QColor(img0 & 0xFF, (img0 >> 8) & 0xFF, (img0 >> 16) & 0xFF)));
}

TEST_F(EditorWidget, RowBackgroundsFollowTheRuleOrder)
{
    editor.SetText("0\r\n1\r\n2\r\n3");
    TEditorExMarks x = editor.ExMarks();
    x.CurrentLine = {0x000001, clNone, 0, true};
    x.DigitLine = {0x000002, clNone, 0, true};
    x.Img0Line = {0x000003, clNone, 0, true};
    x.Img2Line = {0x000004, clNone, 0, true};
    x.ImageLine = {0x000005, clNone, 0, true};
    editor.SetExMarks(x);
    editor.SetCaret(3, 0);
    editor.AddRowMark(3, 1);
    EXPECT_EQ(editor.RowBackground(3), 0x000001u);  // caret row first
    editor.AddRowMark(1, 10);
    editor.AddRowMark(1, 12);
    EXPECT_EQ(editor.RowBackground(1), 0x000003u);  // bit 10 before bit 12
    editor.AddRowMark(1, 5);
    EXPECT_EQ(editor.RowBackground(1), 0x000002u);  // bookmarks before images
    x.Img2Line.Visible = false;
    editor.SetExMarks(x);
    editor.SetRowMarks(2, 4096);
    EXPECT_EQ(editor.RowBackground(2), 0x000005u);  // any image mark
    EXPECT_EQ(editor.RowBackground(0), clNone);
    x.EvenLine = {0x000006, clNone, 0, true};  // the last rule: every second line
    editor.SetExMarks(x);
    EXPECT_EQ(editor.RowBackground(0), clNone);
    EXPECT_EQ(editor.RowBackground(1), 0x000002u);
    EXPECT_EQ(editor.RowBackground(2), 0x000005u);
    editor.SetRowMarks(1, 0);
    EXPECT_EQ(editor.RowBackground(1), 0x000006u);
}

TEST_F(EditorWidget, DroppedTextIsInsertedWhereItFalls)
{
    editor.SetText("abcdef");
    QMimeData mime;
    mime.setText(QString::fromUtf8("XY"));
    const QPoint at = CellCenter(0, 3) - QPoint(editor.CellWidth() / 2, 0);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(editor.viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(editor.viewport(), &drop);
    EXPECT_EQ(editor.Text(), "abcXYdef");
    editor.SetReadOnly(true);
    QApplication::sendEvent(editor.viewport(), &drop);
    EXPECT_EQ(editor.Text(), "abcXYdef");
}

TEST_F(EditorWidget, TwoControlsShareOneText)
{
    TEditorEx second;
    second.ShareTextWith(editor);
    QTest::keyClicks(&editor, "shared");
    EXPECT_EQ(second.Text(), "shared");
    second.SetCaret(0, 0);
    second.SetText("");
    EXPECT_EQ(editor.Text(), "");
    second.AppendText("x\r\ny");
    EXPECT_EQ(editor.LineCount(), 2);
    EXPECT_EQ(editor.Row(), 1);
}

TEST_F(EditorWidget, HighlightingPropertiesRoundTrip)
{
    editor.SetCommenter("--");
    editor.ClearBrackets();
    editor.AddBracket("--[", "]", 65280);
    editor.AddBracket("\"", "\"", 16776960);
    EXPECT_EQ(editor.BracketCount(), 2);
    EXPECT_EQ(editor.Bracket(1).RightBracket, "\"");
    EXPECT_EQ(editor.Bracket(5).LeftBracket, "");
    editor.SetReserveWordList({"then", "if", "IF"});
    EXPECT_EQ(editor.ReserveWordList(), (std::vector<std::string>{"if", "then"}));
    editor.SetText("if \"a--\" -- c");
    const auto tokens = editor.Model().LineTokens(0);
    EXPECT_EQ(tokens.front().kind, TTokenKind::Reserve);
    EXPECT_EQ(tokens.back().kind, TTokenKind::Comment);
}

TEST_F(EditorWidget, RegularExpressionFlagFollowsTheLibrary)
{
    // Either way the control works; with the library the flag is set and searches use it.
    editor.SetText("abc 123");
    editor.SetFindString("[0-9]+");
    editor.SetExSearchOptions(soRegexp);
    EXPECT_EQ(editor.FindNext(), editor.RegexAvailable());
    if (editor.RegexAvailable()) {
        EXPECT_EQ(editor.SelText(), "123");
    }
}

}  // namespace
}  // namespace pek

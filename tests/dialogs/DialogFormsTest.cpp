// The parameter and menu dialogs, driven by keys on the main thread.
#include "dialogs/SelMenu_u.h"
#include "dialogs/inputpara_u.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace pek {
namespace {

TEST(SelMenuForm, GridArrowsAndWidths)
{
    TSelMenuForm form;
    form.SetColumns(2);
    form.SetChoices({"a", "b", "c", "d", "e"});
    const auto& b = form.Buttons();
    ASSERT_EQ(b.size(), 5u);
    EXPECT_EQ(b[0], form.Btn);
    EXPECT_EQ(b[3]->geometry(), QRect(75, 25, 75, 25));
    EXPECT_EQ(b[4]->geometry(), QRect(0, 50, 75, 25));
    EXPECT_EQ(form.size(), QSize(150, 75));
    form.show();
    const struct {
        int from;
        Qt::Key key;
        int to;
    } moves[] = {{3, Qt::Key_Down, 3}, {1, Qt::Key_Right, 1}, {1, Qt::Key_Left, 0}, {0, Qt::Key_Down, 2},
                 {2, Qt::Key_Up, 0},   {0, Qt::Key_Left, 0},  {2, Qt::Key_Down, 4}, {4, Qt::Key_Right, 4}};
    for (const auto& m : moves) {
        b[size_t(m.from)]->setFocus();
        QTest::keyClick(b[size_t(m.from)], m.key);
        EXPECT_EQ(form.focusWidget(), b[size_t(m.to)]) << m.from << " " << m.key;
    }
    QTest::keyClick(b[3], Qt::Key_Space);
    EXPECT_EQ(form.result(), 1);
    EXPECT_EQ(form.SelectedIndex(), 3);
}

TEST(SelMenuForm, OneRowWithoutColumnsAndWideCaptions)
{
    TSelMenuForm form;
    const QString wide = QString(40, 'W');
    form.SetChoices({"x", wide, "z"});
    const int width = QFontMetrics(form.font()).horizontalAdvance(wide) + 15;
    ASSERT_GT(width, 75);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(form.Buttons()[size_t(i)]->geometry(), QRect(i * width, 0, width, 25));
    form.show();
    form.close();
    EXPECT_EQ(form.result(), 2);
    EXPECT_EQ(form.SelectedIndex(), -1);
}

TEST(InputParaForm, EnterCommitsTheEditedValueAndEndsWithOk)
{
    TInputParaForm form;
    form.AddRow("n", "1");
    form.AddChoiceRow("c", {"A", "B"});
    form.show();
    form.ParaVListEd->editItem(form.ParaVListEd->item(0, 1));
    auto* editor = form.ParaVListEd->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "$20");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(form.result(), 1);
    EXPECT_EQ(form.Value(0), "$20");
    EXPECT_EQ(form.Value(1), "A");

    form.show();
    form.ParaVListEd->editItem(form.ParaVListEd->item(1, 1));
    auto* box = form.ParaVListEd->findChild<QComboBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->count(), 2);
    box->setCurrentIndex(1);
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_EQ(form.result(), 2);
    EXPECT_EQ(form.Value(1), "A") << "Esc keeps no edit";
}

TEST(InputParaForm, ResizeSharesTheWidth)
{
    TInputParaForm form;
    form.resize(300, 200);
    form.show();
    EXPECT_EQ(form.ParaVListEd->geometry(), QRect(0, 0, 300, 180));
    EXPECT_EQ(form.OkBtn->geometry(), QRect(0, 180, 150, 20));
    EXPECT_EQ(form.CancelBtn->geometry(), QRect(150, 180, 150, 20));
}

}  // namespace
}  // namespace pek

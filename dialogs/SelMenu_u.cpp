#include "dialogs/SelMenu_u.h"

#include <QKeyEvent>
#include <QPushButton>

namespace pek {

namespace {
constexpr int kDesignWidth = 75;
constexpr int kButtonHeight = 25;
}  // namespace

TSelMenuForm::TSelMenuForm(QWidget* parent) : QDialog(parent)
{
    setObjectName("SelMenuForm");
    setWindowTitle("SelMenu");
    Btn = new QPushButton("Btn", this);
    Btn->setObjectName("Btn");
    buttons_.push_back(Btn);
    Btn->installEventFilter(this);
    connect(Btn, &QPushButton::clicked, this, [this] { BtnClick(Btn); });
    LayoutButtons();
}

void TSelMenuForm::SetChoices(const std::vector<QString>& choices)
{
    for (std::size_t i = 0; i < choices.size(); ++i) {
        QPushButton* button = i == 0 ? Btn : new QPushButton(this);
        button->setText(choices[i]);
        if (i > 0) {
            button->installEventFilter(this);
            connect(button, &QPushButton::clicked, this, [this, button] { BtnClick(button); });
            buttons_.push_back(button);
        }
    }
    LayoutButtons();
}

void TSelMenuForm::LayoutButtons()
{
    int width = kDesignWidth;
    const QFontMetrics metrics(font());
    for (const QPushButton* b : buttons_) width = std::max(width, metrics.horizontalAdvance(b->text()) + 15);
    int right = 0, bottom = 0;
    for (int i = 0; i < int(buttons_.size()); ++i) {
        const int left = columns_ > 0 ? (i % columns_) * width : i * width;
        const int top = columns_ > 0 ? (i / columns_) * kButtonHeight : 0;
        buttons_[std::size_t(i)]->setGeometry(left, top, width, kButtonHeight);
        right = std::max(right, left + width);
        bottom = std::max(bottom, top + kButtonHeight);
    }
    setFixedSize(right, bottom);
}

void TSelMenuForm::BtnClick(QPushButton* button)
{
    for (std::size_t i = 0; i < buttons_.size(); ++i)
        if (buttons_[i] == button) selected_ = std::int32_t(i);
    done(1);
}

bool TSelMenuForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Left && key != Qt::Key_Right && key != Qt::Key_Up && key != Qt::Key_Down)
        return QDialog::eventFilter(watched, event);
    const int c = columns_;
    const int count = int(buttons_.size());
    int i = -1;
    for (int k = 0; k < count; ++k)
        if (buttons_[std::size_t(k)] == watched) i = k;
    if (c > 0 && i >= 0) {
        int to = -1;
        if (key == Qt::Key_Left && i - 1 >= 0 && i % c > 0) to = i - 1;
        if (key == Qt::Key_Up && i - c >= 0) to = i - c;
        if (key == Qt::Key_Right && i + 1 < count && i % c < c - 1) to = i + 1;
        if (key == Qt::Key_Down && i + c < count) to = i + c;
        if (to >= 0) buttons_[std::size_t(to)]->setFocus();
    }
    return true;  // arrows never move the focus on their own
}

}  // namespace pek

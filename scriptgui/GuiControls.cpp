#include "scriptgui/GuiControls.h"

#include "platform/CodePage.h"
#include "scriptgui/NumEdit.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>

namespace pek {

namespace {

std::optional<TGuiArrow> Arrow(int key)
{
    switch (key) {
    case Qt::Key_Left: return TGuiArrow::Left;
    case Qt::Key_Right: return TGuiArrow::Right;
    case Qt::Key_Up: return TGuiArrow::Up;
    case Qt::Key_Down: return TGuiArrow::Down;
    default: return std::nullopt;
    }
}

}  // namespace

void TOptionButtons::Add(QWidget* parent, const std::string& text, int charWidth)
{
    auto* button = new QPushButton(Cp932ToQString(text), parent);
    button->setCheckable(true);
    button->setAutoExclusive(true);
    button->setVisible(false);
    const int index = Count();
    QObject::connect(button, &QPushButton::clicked, button, [this, index] { selected_ = index; });
    buttons_.push_back(button);
    width_ = GuiOptionWidth(width_, text.size(), charWidth);
}

int TOptionButtons::Height() const { return buttons_.empty() ? 0 : buttons_.front()->sizeHint().height(); }

void TOptionButtons::Select(int index, bool focus)
{
    selected_ = GuiClampOption(index, Count());
    if (selected_ < 0) return;
    QPushButton* button = buttons_[std::size_t(selected_)];
    button->setChecked(true);
    if (focus) button->setFocus();
}

TGroupButton::TGroupButton(TGuiPanelSite& site, QWidget* parent) : QGroupBox(parent), site_(site) { setVisible(false); }

void TMenuBtn::AddOption(const std::string& text) { options_.Add(this, text, site_.CharWidth()); }

void TMenuBtn::Arrange()
{
    const TGuiMenuLayout layout = GuiArrangeMenu(options_.Count(), columns_, options_.Width(), options_.Height());
    if (layout.Options.empty()) {
        options_.SetSelected(-1);  // nothing to choose: confirming chooses nothing
        return;
    }
    columns_ = layout.Columns;
    resize(layout.ClientWidth, layout.ClientHeight);
    for (int i = 0; i < options_.Count(); ++i) {
        options_.Button(i)->setGeometry(layout.Options[std::size_t(i)]);
        options_.Button(i)->setVisible(true);
    }
    options_.Select(options_.Selected(), false);
    setVisible(true);
}

bool TMenuBtn::MenuKey(int key)
{
    const auto arrow = Arrow(key);
    if (!arrow) return false;
    const int to = GuiMenuMove(*arrow, options_.Selected(), columns_, options_.Count());
    if (to >= 0) options_.Select(to, true);
    return true;
}

TGroupPanel::TGroupPanel(TGuiPanelSite& site, QWidget* parent)
    : QFrame(parent), site_(site), caption_(new QLabel(this)), inner_(new QWidget(this))
{
    setVisible(false);
    caption_->move(5, 0);
    caption_->resize(0, caption_->sizeHint().height());
}

void TGroupPanel::SetCaption(const std::string& caption)
{
    caption_->setText(Cp932ToQString(caption));
    caption_->resize(caption.empty() ? 0 : caption_->sizeHint().width(), caption_->sizeHint().height());
}

int TGroupPanel::CaptionWidth() const { return caption_->width(); }

void TGroupPanel::Arrange()
{
    const auto controls = inner_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    if (!controls.isEmpty()) {
        inner_->resize(inner_->width(), controls.front()->height());
        resize(width(), inner_->height());
    }
    int widest = 0;
    for (const TGroupPanel* row : site_.Rows())
        if (row->isEnabled()) widest = std::max(widest, row->CaptionWidth());
    for (TGroupPanel* row : site_.Rows())
        if (row->isEnabled()) row->Align(widest);
    setVisible(true);
}

void TGroupPanel::Align(int widestCaption)
{
    const TGuiRowAlign align = GuiAlignRow(widestCaption, inner_->width());
    inner_->move(align.InnerLeft, 0);
    resize(align.ClientWidth, height());
}

bool TGroupPanel::ItemKeyDown(int key)
{
    if (key != Qt::Key_Up && key != Qt::Key_Down) return false;
    const auto rows = site_.NavigationList();
    const auto self = std::find(rows.begin(), rows.end(), this);
    if (self == rows.end()) return true;
    // A disabled row cannot take the focus: the move goes on to the next enabled one.
    if (key == Qt::Key_Up) {
        for (auto it = self; it != rows.begin();)
            if ((*--it)->isEnabled()) return (*it)->EnterItem(), true;
    } else {
        for (auto it = self + 1; it != rows.end(); ++it)
            if ((*it)->isEnabled()) return (*it)->EnterItem(), true;
    }
    return true;
}

void TGroupPanel::focusInEvent(QFocusEvent* event)
{
    QFrame::focusInEvent(event);
    EnterItem();
}

TSel::TSel(TGuiPanelSite& site, QWidget* parent) : TGroupPanel(site, parent) {}

void TSel::AddOption(const std::string& text) { options_.Add(inner_, text, site_.CharWidth()); }

void TSel::Arrange()
{
    const int count = options_.Count();
    if (count > 0) inner_->resize(count * options_.Width(), options_.Height());
    for (int i = 0; i < count; ++i) {
        options_.Button(i)->setGeometry(GuiSelOption(i, options_.Width(), options_.Height()));
        options_.Button(i)->setVisible(true);
    }
    TGroupPanel::Arrange();
    options_.Select(options_.Selected(), !site_.FocusInItems());
}

void TSel::EnterItem() { options_.Select(options_.Selected(), true); }

bool TSel::ItemKeyDown(int key)
{
    if (TGroupPanel::ItemKeyDown(key)) return true;
    if (key != Qt::Key_Left && key != Qt::Key_Right) return false;
    const int to = GuiSelMove(*Arrow(key), options_.Selected(), options_.Count());
    if (to >= 0) options_.Select(to, true);
    return true;
}

TEdPnl::TEdPnl(TGuiPanelSite& site, QWidget* parent, QLineEdit* field) : TGroupPanel(site, parent), field_(field)
{
    field_->setParent(inner_);
    field_->resize(field_->width(), field_->sizeHint().height());
}

void TEdPnl::EnterItem() { field_->setFocus(); }

void TEdPnl::Arrange()
{
    fieldWidth_ = GuiEditFieldWidth(fieldWidth_, Value().size(), site_.CharWidth());
    field_->resize(fieldWidth_, field_->sizeHint().height());
    inner_->resize(field_->width(), field_->height());
    TGroupPanel::Arrange();
}

std::string TEdPnl::Value() const { return QStringToCp932(field_->text()); }
void TEdPnl::SetValue(const std::string& text) { field_->setText(Cp932ToQString(text)); }

TStr::TStr(TGuiPanelSite& site, QWidget* parent) : TEdPnl(site, parent, new QLineEdit) {}

namespace {

TNumEdit* NewNumEdit(TNumKind kind)
{
    auto* edit = new TNumEdit;
    edit->SetIsHex(kind == TNumKind::Hex4 || kind == TNumKind::Hex8);
    edit->SetIsLongWord(kind == TNumKind::Hex8);
    edit->SetIsFloat(kind == TNumKind::Float);
    edit->setText(kind == TNumKind::Hex4 ? "0000" : kind == TNumKind::Hex8 ? "00000000" : "0");
    return edit;
}

}  // namespace

TNumEdPnl::TNumEdPnl(TGuiPanelSite& site, QWidget* parent, TNumKind kind)
    : TEdPnl(site, parent, NewNumEdit(kind)), kind_(kind)
{
}

void TNumEdPnl::Arrange()
{
    fieldWidth_ = GuiNumFieldWidth(kind_, fieldWidth_, site_.CharWidth());
    TEdPnl::Arrange();
}

TLMemo::TLMemo(TGuiPanelSite& site, QWidget* parent, int columns, int rows) : QPlainTextEdit(parent), site_(site)
{
    setVisible(false);
    QFont memoFont("SimSun");
    memoFont.setPixelSize(12);
    setFont(memoFont);
    resize(std::max(0, columns) * GuiCell, std::max(0, rows) * GuiCell);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void TLMemo::Puts(const QString& text)
{
    QString plain = text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    plain.replace(u'\r', u'\n');
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(plain);
    moveCursor(QTextCursor::End);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

std::string TLMemo::Value() const
{
    QString text = toPlainText();
    text.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    return QStringToCp932(text);
}

void TLMemo::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (event->modifiers() & Qt::ShiftModifier) {
            // A read-only memo takes no line break (inserting from code would bypass read-only).
            if (!isReadOnly()) insertPlainText(QStringLiteral("\n"));
            return;
        }
        // Enter has already become OK: the memo does not take the line break.
        if (site_.ResultState() != 0) return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

}  // namespace pek

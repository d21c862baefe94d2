#include "scriptgui/GuiLua_u.h"

#include "platform/CodePage.h"
#include "platform/Profile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

namespace pek {

namespace {

constexpr int DesignWidth = 457;
constexpr int DesignHeight = 505;
constexpr int BarHeight = 28;

}  // namespace

TGuiLuaForm::TGuiLuaForm(const ProfileFile& ini, std::shared_ptr<TGuiWaitState> wait)
    : QWidget(nullptr, Qt::Window), ini_(ini), wait_(std::move(wait)), mainPnl_(new QWidget(this)),
      btmPnl_(new QWidget(this)), okBtn_(new QPushButton("OK", btmPnl_)), cancelBtn_(new QPushButton("Cancel", btmPnl_))
{
    setObjectName("GuiLuaForm");
    setWindowTitle("Lua GUI Window");
    // The panel never keeps the program running once the main window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    QFont panelFont("MS PGothic");
    panelFont.setPixelSize(12);
    setFont(panelFont);
    charWidth_ = std::max(1, QFontMetrics(font()).horizontalAdvance(u'Z'));
    mainPnl_->setObjectName("MainPnl");
    btmPnl_->setObjectName("BtmPnl");
    okBtn_->setObjectName("OkPnlBtn");
    cancelBtn_->setObjectName("CancelPnlBtn");
    okBtn_->setGeometry(144, 1, 75, 25);
    cancelBtn_->setGeometry(224, 1, 75, 25);
    connect(okBtn_, &QPushButton::clicked, this, [this] { SetResultState(1); });
    connect(cancelBtn_, &QPushButton::clicked, this, [this] { SetResultState(2); });
    SetBarEnabled(false);
    move(ini_.ReadInteger("GuiLua", "Left", 0), ini_.ReadInteger("GuiLua", "Top", 50));
    resize(ini_.ReadInteger("GuiLua", "Width", DesignWidth), ini_.ReadInteger("GuiLua", "Height", DesignHeight));
    qApp->installEventFilter(this);
}

TGuiLuaForm::~TGuiLuaForm() { qApp->removeEventFilter(this); }

std::vector<TGroupPanel*> TGuiLuaForm::Rows() const
{
    std::vector<TGroupPanel*> rows;
    for (const auto& item : items_)
        if (auto* row = qobject_cast<TGroupPanel*>(item.data())) rows.push_back(row);
    return rows;
}

std::vector<TGroupPanel*> TGuiLuaForm::NavigationList() const
{
    std::vector<TGroupPanel*> rows;
    for (const auto& row : navigation_)
        if (row) rows.push_back(row);
    return rows;
}

void TGuiLuaForm::SetResultState(int state)
{
    wait_->Decide(state, false);
    emit Decided();
}

bool TGuiLuaForm::FocusInItems() const
{
    const QWidget* focus = focusWidget();
    return focus != nullptr && mainPnl_->isAncestorOf(focus);
}

void TGuiLuaForm::ShowFront()
{
    if (!isVisible() || isMinimized()) showNormal();
    else if (isActiveWindow() || (raised_.isValid() && raised_.elapsed() < 250)) return;
    // At most a few times a second: a script writing lines to a memo calls this for every line.
    raise();
    raised_.start();
}

int TGuiLuaForm::AddItem(QWidget* item)
{
    item->setParent(mainPnl_);
    item->move(cursor_.X, cursor_.Y);
    items_.emplace_back(item);
    return int(items_.size()) - 1;
}

void TGuiLuaForm::Advance(QWidget* item) { cursor_.Y = GuiNextRowY(item->y(), item->height()); }

void TGuiLuaForm::AddRow(TGroupPanel* row) { navigation_.emplace_back(row); }

QWidget* TGuiLuaForm::Item(std::int64_t id) const
{
    if (id < 0 || id >= std::int64_t(items_.size())) return nullptr;
    return items_[std::size_t(id)].data();
}

void TGuiLuaForm::EnableItem(QWidget* item, bool enable)
{
    // Qt greys a disabled item's caption, frame title and inner controls with it.
    item->setEnabled(enable);
    for (QWidget* child : item->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) child->setEnabled(enable);
}

void TGuiLuaForm::Clear()
{
    for (auto& item : items_) {
        if (!item) continue;
        item->hide();
        // Later: the item may be the one whose event is being handled right now.
        item->deleteLater();
    }
    items_.clear();
    navigation_.clear();
    cursor_ = {};
}

void TGuiLuaForm::Locate(std::int64_t column, std::int64_t row) { cursor_ = GuiLocate(column, row); }

void TGuiLuaForm::Scroll(std::int64_t rows)
{
    const int dy = GuiScrollPixels(rows);
    for (auto& item : items_)
        if (item) item->move(item->x(), GuiScrolledItemY(item->y(), dy));
    cursor_.Y = GuiScrolledCursorY(cursor_.Y, rows);
}

void TGuiLuaForm::EnterFirstRow()
{
    if (focusWidget() != nullptr) return;
    for (TGroupPanel* row : NavigationList()) {
        if (!row->isEnabled()) continue;
        activateWindow();
        row->EnterItem();
        return;
    }
}

void TGuiLuaForm::ReleaseRows()
{
    for (TGroupPanel* row : NavigationList()) EnableItem(row, false);
    navigation_.clear();
}

int TGuiLuaForm::SpaceBelowCursor() const { return mainPnl_->height() - cursor_.Y; }

std::uint64_t TGuiLuaForm::BeginWait()
{
    ShowFront();
    wait_->Result.store(0);
    SetBarEnabled(true);
    wait_->Waiting.store(true);
    return wait_->Serial.fetch_add(1) + 1;
}

void TGuiLuaForm::EndWait(std::uint64_t serial)
{
    if (wait_->Serial.load() != serial) return;  // a later wait is running
    SetBarEnabled(false);
    wait_->Waiting.store(false);
}

void TGuiLuaForm::SetBarEnabled(bool on)
{
    btmPnl_->setEnabled(on);
    okBtn_->setEnabled(on);
    cancelBtn_->setEnabled(on);
}

void TGuiLuaForm::closeEvent(QCloseEvent* event)
{
    if (wait_->Waiting.load()) {
        // The waiting call sees this on its own thread and ends its run with "STOP".
        wait_->Decide(2, true);
    }
    wait_->Waiting.store(false);
    SetBarEnabled(false);
    Clear();
    SaveGeometry();
    event->accept();
    emit Decided();
}

void TGuiLuaForm::SaveGeometry()
{
    try {
        ProfileBatch batch(ini_);
        ini_.WriteInteger("GuiLua", "Top", y());
        ini_.WriteInteger("GuiLua", "Left", x());
        ini_.WriteInteger("GuiLua", "Height", height());
        ini_.WriteInteger("GuiLua", "Width", width());
        batch.Commit();
    } catch (const std::exception&) {
        // A settings file that cannot be written keeps the old position.
    }
}

void TGuiLuaForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    mainPnl_->setGeometry(0, 0, width(), std::max(0, height() - BarHeight));
    btmPnl_->setGeometry(0, std::max(0, height() - BarHeight), width(), BarHeight);
}

QWidget* TGuiLuaForm::CurrentItem() const
{
    QWidget* w = focusWidget();
    while (w != nullptr && w->parentWidget() != mainPnl_) w = w->parentWidget();
    if (w == nullptr) return nullptr;
    for (const auto& item : items_)
        if (item.data() == w) return w;
    return nullptr;
}

bool TGuiLuaForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    // Key preview: the key is seen once, at the control it is first delivered to.
    if (widget->window() != this) return false;
    QWidget* focus = focusWidget();
    if (widget != (focus != nullptr ? focus : this)) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    QWidget* item = CurrentItem();
    const bool enabledItem = item != nullptr && item->isEnabled();
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Shift+Enter in a memo is a line break: the wait goes on. Never 1 first and then 0, or a
        // script polling on its thread could see the OK in between.
        SetResultState(enabledItem && qobject_cast<TLMemo*>(item) && (key->modifiers() & Qt::ShiftModifier) ? 0 : 1);
        return false;
    case Qt::Key_Escape:
        SetResultState(2);
        return false;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (!enabledItem) return false;
        if (auto* menu = qobject_cast<TMenuBtn*>(item)) return menu->MenuKey(key->key());
        if (auto* row = qobject_cast<TGroupPanel*>(item)) return row->ItemKeyDown(key->key());
        return false;
    default:
        return false;
    }
}

}  // namespace pek

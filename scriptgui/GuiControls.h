#pragma once
// The items of the script GUI panel. Each places its own controls by the arithmetic of
// GuiLayout (no Qt layouts), from the panel's character width.
#include "scriptgui/GuiLayout.h"

#include <QFrame>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPointer>

#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pek {

class TGroupPanel;
class TNumEdit;

// What an item needs of the panel it lies on.
class TGuiPanelSite {
public:
    virtual ~TGuiPanelSite() = default;
    virtual int CharWidth() const = 0;
    // Every row item of the panel, in creation order (for the common caption column).
    virtual std::vector<TGroupPanel*> Rows() const = 0;
    // The navigation list: the rows Up and Down move between.
    virtual std::vector<TGroupPanel*> NavigationList() const = 0;
    virtual int ResultState() const = 0;
    virtual void SetResultState(int state) = 0;
    // True when the focused control lies inside the item area.
    virtual bool FocusInItems() const = 0;
};

// Options shared by the selection row and the button menu: push-like buttons of one width.
class TOptionButtons {
public:
    void Add(QWidget* parent, const std::string& text, int charWidth);
    int Count() const { return int(buttons_.size()); }
    int Width() const { return width_; }
    int Height() const;
    int Selected() const { return selected_; }
    void SetSelected(int index) { selected_ = index; }
    // Clamps into the options (none selects nothing) and marks it down.
    void Select(int index, bool focus);
    QPushButton* Button(int i) const { return buttons_[std::size_t(i)]; }

private:
    std::vector<QPushButton*> buttons_;
    int width_ = 10;
    int selected_ = 0;
};

class TGroupButton : public QGroupBox {
    Q_OBJECT
public:
    TGroupButton(TGuiPanelSite& site, QWidget* parent);
    virtual void Arrange() = 0;
    TOptionButtons& Options() { return options_; }

protected:
    TGuiPanelSite& site_;
    TOptionButtons options_;
};

class TMenuBtn : public TGroupButton {
    Q_OBJECT
public:
    using TGroupButton::TGroupButton;
    void AddOption(const std::string& text);
    void SetColumns(int columns) { columns_ = columns; }
    int Columns() const { return columns_; }
    void Arrange() override;
    // The arrow keys inside the grid; true when consumed.
    bool MenuKey(int key);

private:
    int columns_ = 0;
};

class TGroupPanel : public QFrame {
    Q_OBJECT
public:
    TGroupPanel(TGuiPanelSite& site, QWidget* parent);
    void SetCaption(const std::string& caption);
    int CaptionWidth() const;
    virtual void EnterItem() {}
    virtual void Arrange();
    // Up and Down move along the navigation list; true when the key was consumed.
    virtual bool ItemKeyDown(int key);
    // Puts the inner area right of the widest caption of the enabled rows.
    void Align(int widestCaption);
    QWidget* Inner() const { return inner_; }

protected:
    void focusInEvent(QFocusEvent* event) override;
    TGuiPanelSite& site_;
    QLabel* caption_;
    QWidget* inner_;
};

class TSel : public TGroupPanel {
    Q_OBJECT
public:
    TSel(TGuiPanelSite& site, QWidget* parent);
    void AddOption(const std::string& text);
    void Arrange() override;
    void EnterItem() override;
    bool ItemKeyDown(int key) override;
    TOptionButtons& Options() { return options_; }

private:
    TOptionButtons options_;
};

class TEdPnl : public TGroupPanel {
    Q_OBJECT
public:
    TEdPnl(TGuiPanelSite& site, QWidget* parent, QLineEdit* field);
    void EnterItem() override;
    void Arrange() override;
    QLineEdit* Field() const { return field_; }
    std::string Value() const;
    void SetValue(const std::string& text);

protected:
    QLineEdit* field_;
    int fieldWidth_ = 100;
};

class TStr : public TEdPnl {
    Q_OBJECT
public:
    TStr(TGuiPanelSite& site, QWidget* parent);
};

class TNumEdPnl : public TEdPnl {
    Q_OBJECT
public:
    TNumEdPnl(TGuiPanelSite& site, QWidget* parent, TNumKind kind);
    void Arrange() override;
    TNumKind Kind() const { return kind_; }

private:
    TNumKind kind_;
};

// Enter ends a wait as OK; Shift+Enter, which the panel lets through, inserts the line break.
class TLMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    TLMemo(TGuiPanelSite& site, QWidget* parent, int columns, int rows);
    void Puts(const QString& text);
    std::string Value() const;  // CP932, lines joined by CR LF

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    TGuiPanelSite& site_;
};

}  // namespace pek

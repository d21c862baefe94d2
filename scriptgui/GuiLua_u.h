#pragma once
// The script GUI panel: one top-level window in which scripts lay out input items, wait for OK
// or Cancel, and read the values back. Main thread only; scripts reach it through GuiLuaApi.
#include "scriptgui/GuiControls.h"

#include "platform/Profile.h"

#include <QElapsedTimer>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QPushButton;

namespace pek {

class TMxBinEditor;

// What a waiting script reads on its own thread. The panel writes it on the main thread and
// wakes the waiting thread through Changed at each decision.
struct TGuiWaitState {
    std::atomic<int> Result{0};  // 0 none yet, 1 OK, 2 Cancel
    std::atomic<std::uint64_t> Serial{0};   // the current wait's number
    std::atomic<std::uint64_t> Aborted{0};  // the number of a wait the closing panel ended
    std::atomic<bool> Waiting{false};
    std::mutex Mutex;
    std::condition_variable Changed;

    void Decide(int result, bool abort)
    {
        {
            const std::lock_guard lock(Mutex);
            Result.store(result);
            if (abort) Aborted.store(Serial.load());
        }
        Changed.notify_all();
    }
};

class TGuiLuaForm : public QWidget, public TGuiPanelSite {
    Q_OBJECT
public:
    // The settings file is named by a copy of the window's, so the panel never refers to a window
    // that has gone.
    TGuiLuaForm(const ProfileFile& ini, std::shared_ptr<TGuiWaitState> wait);
    ~TGuiLuaForm() override;

    // TGuiPanelSite
    int CharWidth() const override { return charWidth_; }
    std::vector<TGroupPanel*> Rows() const override;
    std::vector<TGroupPanel*> NavigationList() const override;
    int ResultState() const override { return wait_->Result.load(); }
    void SetResultState(int state) override;
    bool FocusInItems() const override;

    void ShowFront();
    QWidget* MainPnl() const { return mainPnl_; }
    QPushButton* OkPnlBtn() const { return okBtn_; }
    QPushButton* CancelPnlBtn() const { return cancelBtn_; }
    TGuiCursor Cursor() const { return cursor_; }
    bool Waiting() const { return wait_->Waiting.load(); }

    // Places a new item (a child of MainPnl) at the cursor; its id.
    int AddItem(QWidget* item);
    // Moves the cursor below an item that has its size.
    void Advance(QWidget* item);
    void AddRow(TGroupPanel* row);
    // Null for an id no item has.
    QWidget* Item(std::int64_t id) const;
    int ItemCount() const { return int(items_.size()); }
    void EnableItem(QWidget* item, bool enable);
    void Clear();
    void Locate(std::int64_t column, std::int64_t row);
    void Scroll(std::int64_t rows);
    // GuiInput's start: the first row of the navigation list takes the focus if nothing has it.
    void EnterFirstRow();
    // Disables the rows of the navigation list and empties it.
    void ReleaseRows();
    // Room below the cursor inside the item area, in pixels.
    int SpaceBelowCursor() const;

    // A wait: its number; EndWait with that number closes it.
    std::uint64_t BeginWait();
    void EndWait(std::uint64_t serial);

signals:
    // The result state was set: a wait on the main thread need not sleep out its interval.
    void Decided();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* CurrentItem() const;
    void SetBarEnabled(bool on);
    void SaveGeometry();

    ProfileFile ini_;
    std::shared_ptr<TGuiWaitState> wait_;
    QWidget* mainPnl_;
    QWidget* btmPnl_;
    QPushButton* okBtn_;
    QPushButton* cancelBtn_;
    int charWidth_ = 6;
    TGuiCursor cursor_;
    QElapsedTimer raised_;
    std::vector<QPointer<QWidget>> items_;
    std::vector<QPointer<TGroupPanel>> navigation_;
};

}  // namespace pek

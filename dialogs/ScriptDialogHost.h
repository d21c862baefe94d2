#pragma once
// Shows the dialogs scripts ask for. A thread run's dialog is shown on the main thread from its
// event loop while the worker waits, so the main thread's stack never holds a worker's wait; a
// debugged run (on the main thread) shows it directly. When the window closes, every open script
// dialog is closed as cancelled and the waiting workers are released.
// Which thread may do what: "Threads" in README.md.
#include "macro/ScriptKit.h"

#include <QPointer>
#include <QDialog>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct lua_State;

namespace pek {

class TerminalHost;

class TScriptDialogs {
public:
    // Main thread; closes the dialogs when the window closes.
    explicit TScriptDialogs(TerminalHost& window);
    TScriptDialogs(const TScriptDialogs&) = delete;
    TScriptDialogs& operator=(const TScriptDialogs&) = delete;

    // Main thread. The parent that script dialogs are centred on.
    QWidget* Parent() const;
    // Main thread. Centres the dialog over the main window and shows it modally through the dialog
    // service; Rejected without showing once the window is closing.
    int Exec(QDialog& dialog);
    // Main thread. Closes every open script dialog as cancelled.
    void CloseAll();
    bool Closing() const { return closing_; }

    // One request of a worker.
    struct Wait {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;       // answered, or abandoned by the window closing
        bool abandoned = false;  // the worker left (stopped): nothing is shown any more
        QPointer<QDialog> dialog;
    };

    // From a script function: runs show() on the main thread and returns its result; `cancelled`
    // when the window closes first. A stop request closes the dialog and raises "STOP".
    template <class R>
    R Show(lua_State* L, std::function<R()> show, R cancelled);

private:
    // Worker side of Show: posts run and waits for wait->done, serving stop requests.
    void PostAndWait(lua_State* L, const std::shared_ptr<Wait>& wait, std::function<void()> run);

    QPointer<QWidget> parent_;
    bool closing_ = false;
    std::vector<std::shared_ptr<Wait>> waits_;  // main thread: requests being shown, innermost last
    std::vector<QPointer<QDialog>> open_;
};

template <class R>
R TScriptDialogs::Show(lua_State* L, std::function<R()> show, R cancelled)
{
    if (OnMainThread()) return closing_ ? cancelled : show();
    auto wait = std::make_shared<Wait>();
    auto result = std::make_shared<std::optional<R>>();
    PostAndWait(L, wait, [wait, result, show = std::move(show)] {
        R value = show();
        const std::lock_guard lock(wait->mutex);
        *result = std::move(value);
    });
    const std::lock_guard lock(wait->mutex);
    return result->has_value() ? std::move(**result) : cancelled;
}

}  // namespace pek

#include "dialogs/ScriptDialogHost.h"

#include "platform/DialogService.h"
#include "terminal/TerminalHost.h"

#include <QWidget>

#include <algorithm>
#include <chrono>

namespace pek {

TScriptDialogs::TScriptDialogs(TerminalHost& window) : parent_(window.DialogParent())
{
    window.OnClosing([this] { CloseAll(); });
}

QWidget* TScriptDialogs::Parent() const
{
    return parent_.data();
}

int TScriptDialogs::Exec(QDialog& dialog)
{
    if (closing_) return QDialog::Rejected;
    if (!waits_.empty() && !waits_.back()->dialog) waits_.back()->dialog = &dialog;
    if (const QWidget* main = Parent()) dialog.move(CentredOver(main->frameGeometry(), dialog.size()));
    open_.emplace_back(&dialog);
    const int result = Dialogs().Exec(dialog);
    std::erase_if(open_, [&dialog](const QPointer<QDialog>& d) { return !d || d == &dialog; });
    return result;
}

void TScriptDialogs::CloseAll()
{
    closing_ = true;
    for (const auto& wait : waits_) {
        const std::lock_guard lock(wait->mutex);
        wait->done = true;
        wait->changed.notify_all();
    }
    for (const QPointer<QDialog>& dialog : open_)
        if (dialog) dialog->done(QDialog::Rejected);
}

void TScriptDialogs::PostAndWait(lua_State* L, const std::shared_ptr<Wait>& wait, std::function<void()> run)
{
    const TMainThread main = ScriptContext(L).Main();
    main.Post([this, wait, run = std::move(run)](TerminalHost&) {
        {
            const std::lock_guard lock(wait->mutex);
            if (wait->abandoned || wait->done) return;
        }
        if (!closing_) {
            waits_.push_back(wait);
            try {
                run();
            } catch (const std::exception&) {
                // The worker gets the cancelled answer.
            }
            std::erase(waits_, wait);
        }
        const std::lock_guard lock(wait->mutex);
        wait->done = true;
        wait->changed.notify_all();
    });

    // A stop raises out of the wait: the request is abandoned and its dialog closed.
    struct Leave {
        const std::shared_ptr<Wait>& wait;
        const TMainThread& main;
        ~Leave()
        {
            {
                const std::lock_guard lock(wait->mutex);
                if (wait->done) return;
                wait->abandoned = true;
            }
            main.Post([wait = wait](TerminalHost&) {
                if (wait->dialog) wait->dialog->done(QDialog::Rejected);
            });
        }
    } leave{wait, main};

    std::unique_lock lock(wait->mutex);
    while (!wait->done) {
        if (wait->changed.wait_for(lock, std::chrono::milliseconds(20), [&] { return wait->done; })) break;
        lock.unlock();
        // The window is gone: the posted call will never run.
        if (main.Closed()) return;
        CheckStop(L);
        lock.lock();
    }
}

}  // namespace pek

#include "search/SearchFeature.h"

#include "editor/EditorEx.h"
#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "regex/Onig.h"
#include "terminal/ActionTarget.h"
#include "terminal/TerminalHost.h"

#include <QAction>
#include <QApplication>
#include <QPointer>

namespace pek {

TSearchFeature::TSearchFeature(TerminalHost& window)
    : window_(window), form_(new Tsrch_form(window.Ini(), window.DialogParent()))
{
    form_->OnSearch = [this](bool forward) { Search(dialogPane_, forward); };
    form_->OnStoreError = [this](const std::exception& error) {
        // Once: every search would repeat it otherwise.
        if (storeErrorShown_) return;
        storeErrorShown_ = true;
        Dialogs().MessageBox(window_.DialogParent(), Cp932ToQString(error.what()), Ui("検索"), MB_OK | MB_ICONERROR);
    };
}

TSearchFeature::~TSearchFeature() { delete form_.data(); }

TEditorEx* TSearchFeature::Target(TEditorEx* pane) const { return TargetPane(pane, window_); }

void TSearchFeature::SrchSearchActExecute(TEditorEx* pane)
{
    pane = Target(pane);
    if (pane == nullptr) return;
    const QPointer<TEditorEx> guard(pane);
    const std::string text = FindBoxText(pane->Model());
    form_->FormShow();
    if (!text.empty()) form_->SetFindText(text);
    dialogPane_ = pane;
    // The pane may close while the dialog is open; the dialog then searches the active sheet's.
    QObject::connect(pane, &QObject::destroyed, form_.data(), [this] { dialogPane_ = nullptr; });
    Dialogs().Exec(*form_);
    if (guard) QObject::disconnect(pane, &QObject::destroyed, form_.data(), nullptr);
    dialogPane_ = nullptr;
}

bool TSearchFeature::Search(TEditorEx* pane, bool forward)
{
    pane = Target(pane);
    if (pane == nullptr || form_->Pattern().empty()) return false;
    pane->SetFindString(form_->Pattern());
    pane->SetExSearchOptions(form_->SearchOptions());
    // The window waits for the answer: a pattern that back-tracks on every line, or a very large
    // pane, ends the search with a reason instead of holding it for minutes.
    onig::SearchBudget budget(SearchTimeBudget);
    TEditorModel& model = pane->Model();
    const TTextPos anchor = model.AnchorPos(), caret = model.CaretPos();
    bool found = forward ? pane->FindNext() : pane->FindPrev();
    if (found && !forward && !budget.Error().empty()) {
        // Lines are searched first to last: a search cut short backwards may have missed the
        // nearest hit, so what it found is not the answer.
        model.Select(anchor, caret);
        found = false;
    }
    if (found) {
        pane->SetTopRow(TopRowWithMargin(pane->Row(), pane->TopRow(), pane->RowCount()));
        return true;
    }
    // A pattern that cannot be searched says why instead of reading as "not found".
    std::string why = pane->Model().SearchError();
    if (why.empty()) why = budget.Error();
    if (why.empty() && (form_->SearchOptions() & soRegexp) && !pane->RegexAvailable()) why = Sjis("正規表現ライブラリがありません");
    if (!why.empty()) Dialogs().MessageBox(window_.DialogParent(), Cp932ToQString(why), Ui("検索"), MB_OK | MB_ICONERROR);
    return false;
}

std::unique_ptr<TSearchFeature> AttachSearch(TerminalHost& window)
{
    auto feature = std::make_unique<TSearchFeature>(window);
    TSearchFeature* self = feature.get();
    // The main window's actions and those of every shadow window it opens share the one dialog and
    // its histories; each searches its own window's panes.
    const auto attachTo = [self](TerminalHost& target) {
        const auto attach = [&](const char* name, auto handler) {
            QAction* action = target.Action(name);
            if (action == nullptr) return;
            // An Editor object of a script names its own pane through the action.
            QObject::connect(action, &QAction::triggered, &self->Form(), [self, action, handler, &target] {
                handler(*self, ActionTargetPane(*action, target));
            });
            action->setEnabled(true);
        };
        attach("SrchSearchAct", [](TSearchFeature& f, TEditorEx* pane) { f.SrchSearchActExecute(pane); });
        attach("SrchForwardAct", [](TSearchFeature& f, TEditorEx* pane) { f.Search(pane, true); });
        attach("SrchBackwardAct", [](TSearchFeature& f, TEditorEx* pane) { f.Search(pane, false); });
    };
    attachTo(window);
    const QPointer<Tsrch_form> alive(&self->Form());
    window.OnWindowOpened([self, alive, attachTo](TerminalHost& shadow) {
        if (alive) attachTo(shadow);
    });
    return feature;
}

}  // namespace pek

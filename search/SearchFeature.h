#pragma once
// Searching the window's panes: the search dialog and the window's three search actions.
#include <QPointer>

#include <chrono>
#include <memory>

#include "search/srch_u.h"

namespace pek {

class TEditorEx;
class TerminalHost;

// How long one regular-expression search of a pane may take before it gives up and says so; one
// call of the library may run past it by its own work bound.
inline constexpr std::chrono::milliseconds SearchTimeBudget{1000};

class TSearchFeature {
public:
    explicit TSearchFeature(TerminalHost& window);
    ~TSearchFeature();
    TSearchFeature(const TSearchFeature&) = delete;
    TSearchFeature& operator=(const TSearchFeature&) = delete;

    Tsrch_form& Form() { return *form_; }

    // The handlers of SrchSearchAct, SrchForwardAct and SrchBackwardAct; pane null: the active
    // sheet's.
    void SrchSearchActExecute(TEditorEx* pane);
    // False when nothing was found; a pattern that does not compile, or a search that gave up, is
    // reported in a box.
    bool Search(TEditorEx* pane, bool forward);

private:
    // The given pane, else the one the window's search actions act on.
    TEditorEx* Target(TEditorEx* pane) const;

    TerminalHost& window_;
    QPointer<Tsrch_form> form_;  // owned by the window: it goes with it
    TEditorEx* dialogPane_ = nullptr;  // the pane the open dialog searches
    bool storeErrorShown_ = false;
};

// For the composition root: creates the feature and enables the window's search actions.
std::unique_ptr<TSearchFeature> AttachSearch(TerminalHost& window);

}  // namespace pek

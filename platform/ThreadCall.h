#pragma once
// A blocking call into another thread's event loop that answers quickly. A script calls into the
// main thread once per Editor function; with the plain blocking queued call each round trip costs
// two thread wake-ups, and the caller's wake-up alone doubles the cost on a virtual machine. The
// caller spins for a short while before it sleeps, so a served call is seen at once.
// Which thread may do what: "Threads" in README.md.
#include <functional>

class QObject;

namespace pek {

// Runs fn on the thread of `context` and waits for it. Returns false when the call was dropped
// unserved (the receiving thread's event loop went away first). Must not be called from the
// context's own thread. fn must not throw.
bool CallOnThreadOf(QObject* context, std::function<void()> fn);

}  // namespace pek

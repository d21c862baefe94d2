#pragma once
// Waiting on the main thread without freezing it and without a nested event loop (one that was
// told to quit returns at once and would spin).
#include <chrono>

namespace pek {

// Serves the calling thread's pending events, blocking until at least one arrives or `most` passes.
void ServeEventsUpTo(std::chrono::milliseconds most);

}  // namespace pek

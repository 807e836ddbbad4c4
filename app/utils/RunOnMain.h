#pragma once

#include <functional>

namespace quorvel {

// Queues `work` to run on the main thread's event loop and returns at once,
// from any thread; never a blocking hop. Without an application object the
// work is dropped. Work that touches a widget holds it by QPointer, since the
// widget may be gone by the time the work runs.
void runOnMain(std::function<void()> work);

// True on the thread the application object lives on; false without one.
bool onMainThread();

}  // namespace quorvel

// The process's worker threads. Every long job (format, backup, restore) runs on a worker started
// here, and the front ends end them all before main returns: a std::thread that is still running,
// or was never joined, when the program ends aborts it.
#pragma once

#include <functional>

namespace fw {

// Runs `body` on a new worker thread owned by the process. Workers that have finished are joined
// first, so the list never grows.
void StartWorker(std::function<void()> body);

// Workers whose body has not returned yet.
int RunningWorkerCount();

// Waits until every worker has finished and joins them. `wait` is called between looks (the
// desktop program lets its event loop run there, so that a worker waiting for the UI thread can
// go on); without it the caller sleeps 10 ms.
void JoinWorkers(const std::function<void()>& wait = {});

// The end of the program: a running job is asked to stop (CancelMainThread and FormatStatus, as
// its Cancel button does; it stops at its next safe point), then JoinWorkers.
void EndWorkers(const std::function<void()>& wait = {});

}  // namespace fw

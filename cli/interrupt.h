// Ctrl+C (or SIGTERM) during a long command: the first one becomes the user's cancel request
// (CancelMainThread), so the job stops at its next safe point and cleans up; a second one takes
// its ordinary course and ends the program at once.
#pragma once

#include <atomic>
#include <csignal>

#include "app/globals.h"

namespace fw::cli {

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler stores into an atomic");

inline void OnInterruptCancel(int signal) {
  CancelMainThread = 1;
  std::signal(signal, SIG_DFL);  // the second signal takes its ordinary course
}

// Routes SIGINT and SIGTERM to the cancel request while it lives.
class InterruptCancels {
 public:
  InterruptCancels()
      : oldInt_(std::signal(SIGINT, OnInterruptCancel)),
        oldTerm_(std::signal(SIGTERM, OnInterruptCancel)) {}
  ~InterruptCancels() {
    std::signal(SIGINT, oldInt_ == SIG_ERR ? SIG_DFL : oldInt_);
    std::signal(SIGTERM, oldTerm_ == SIG_ERR ? SIG_DFL : oldTerm_);
  }
  InterruptCancels(const InterruptCancels&) = delete;
  InterruptCancels& operator=(const InterruptCancels&) = delete;

 private:
  using Handler = void (*)(int);
  Handler oldInt_;
  Handler oldTerm_;
};

}  // namespace fw::cli

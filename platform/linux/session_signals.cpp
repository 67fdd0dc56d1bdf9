#include "platform/session_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace fw {
namespace {

constexpr int kSignals[3] = {SIGTERM, SIGHUP, SIGINT};
int writeFd = -1;
struct sigaction oldActions[3]{};

}  // namespace

SessionSignals::SessionSignals() {
  if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
    fds_[0] = fds_[1] = -1;
    return;
  }
  writeFd = fds_[1];
  struct sigaction sa {};
  sa.sa_handler = [](int) {
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(writeFd, &c, 1);
    errno = saved;
  };
  sigemptyset(&sa.sa_mask);
  for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &sa, &oldActions[i]);
}

SessionSignals::~SessionSignals() {
  if (fds_[0] < 0) return;
  for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &oldActions[i], nullptr);
  writeFd = -1;
  ::close(fds_[0]);
  ::close(fds_[1]);
}

void SessionSignals::Drain() {
  char c[16];
  while (::read(fds_[0], c, sizeof c) > 0) {
  }
}

}  // namespace fw

// The end of the session reaches a program as SIGTERM (SIGHUP when its terminal goes, SIGINT for
// Ctrl-C there). While a SessionSignals object lives, those signals only make its descriptor
// readable, so that an event loop can notice them and leave through the program's own exit path.
#pragma once

namespace fw {

class SessionSignals {
 public:
  SessionSignals();
  ~SessionSignals();
  SessionSignals(const SessionSignals&) = delete;
  SessionSignals& operator=(const SessionSignals&) = delete;

  // The descriptor to watch for reading; -1 when the signals could not be caught.
  int ReadFd() const { return fds_[0]; }
  // Empties the descriptor after it became readable.
  void Drain();

 private:
  int fds_[2] = {-1, -1};
};

}  // namespace fw

// For the GUI test programs: the pieces every fixture sets up the same way.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "tests/gui/modal_watchdog.h"

namespace fw::qt {

// A watchdog that fails the running test with the text of any window left unanswered.
inline std::unique_ptr<ModalWatchdog> FailOnUnexpectedWindow() {
  return std::make_unique<ModalWatchdog>(
      [](const QString& text) { ADD_FAILURE() << "unexpected window: " << text.toStdString(); });
}

}  // namespace fw::qt

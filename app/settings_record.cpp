#include "app/settings.h"

namespace fw {

SettingsRecord& Settings() {
  static SettingsRecord settings;
  return settings;
}

}  // namespace fw

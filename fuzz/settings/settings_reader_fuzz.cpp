// The settings reader under libFuzzer: any bytes must load, and whatever loads must survive a
// save and a second load unchanged (the file the program writes reads back as itself).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fw::SettingsRecord first;
  fw::ParseSettingsText(std::string(reinterpret_cast<const char*>(data), size), first);
  fw::Settings() = first;
  const std::string text = fw::SettingsFileText();
  fw::SettingsRecord second;
  fw::ParseSettingsText(text, second);
  fw::Settings() = second;
  if (fw::SettingsFileText() != text) std::abort();
  return 0;
}

#include "app/text.h"

#include <atomic>
#include <cstdio>

#include "platform/sysinfo.h"

namespace fw {
namespace {

std::string Fixed(double value, int decimals) {
  if (decimals < 0) decimals = 0;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

std::string TwoDigits(int64_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02lld", static_cast<long long>(value));
  return buffer;
}

}  // namespace

std::string FormatSizeText(int64_t bytes, int decimals) {
  // Kilobytes in single precision, as the status texts have always been computed.
  const float k = static_cast<float>(bytes) / 1024.0f;
  if (k < 1.0f) return std::to_string(bytes) + " B";
  if (k < 1000.0f) return Fixed(k, decimals) + " KB";
  if (k < 1000000.0f) return Fixed(k / 1024.0f, decimals) + " MB";
  if (k < 1000000000.0f) return Fixed(k / 1048576.0f, decimals + 2) + " GB";
  return Fixed(k / 1073741824.0f, decimals + 2) + " TB";
}

std::string FormatDurationText(int64_t seconds) {
  const int64_t w = seconds / 604800;
  const int64_t d = (seconds - w * 604800) / 86400;
  const int64_t h = (seconds - w * 604800 - d * 86400) / 3600;
  const int64_t m = (seconds - w * 604800 - d * 86400 - h * 3600) / 60;
  const int64_t s = seconds - w * 604800 - d * 86400 - h * 3600 - m * 60;
  std::string text;
  if (w != 0) text += std::to_string(w) + " w ";
  if (d != 0 || w != 0) text += std::to_string(d) + " d ";
  if (d != 0 || w != 0) {
    text += TwoDigits(h) + " h ";
  } else if (h != 0) {
    text += std::to_string(h) + " h ";
  }
  if (h != 0 || d != 0 || w != 0) {
    text += TwoDigits(m) + " m ";
  } else if (m != 0) {
    text += std::to_string(m) + " m ";
  }
  if (m != 0 || h != 0 || d != 0 || w != 0) {
    text += TwoDigits(s) + " s ";
  } else if (s != 0) {
    text += std::to_string(s) + " s ";
  }
  return text;
}

std::string FormatShownDurationText(int64_t seconds) {
  const std::string text = FormatDurationText(seconds);
  return text.empty() ? "0 s " : text;
}

}  // namespace fw

namespace fw {
namespace {
std::atomic<ErrorTextSource> errorTextSource{nullptr};
}  // namespace

void SetErrorTextSource(ErrorTextSource source) { errorTextSource.store(source); }

std::string GetErrorText(int64_t code) {
  if (ErrorTextSource source = errorTextSource.load()) {
    std::string text = source(code);
    if (!text.empty()) return "Error: " + text;
  }
  return "Error: " + ErrnoText(static_cast<int>(code));
}

int64_t HighResFrequency() { return 1000000000; }
int64_t HighResCounter() { return MonotonicNanoseconds(); }

std::string CutToCharacters(const std::string& text, size_t maxUnits) {
  size_t end = 0, units = 0;
  while (end < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[end]);
    size_t length = 1;  // a stray byte counts as one character of its own
    if (lead >= 0xF0) {
      length = 4;
    } else if (lead >= 0xE0) {
      length = 3;
    } else if (lead >= 0xC0) {
      length = 2;
    }
    const size_t need = length == 4 ? 2 : 1;
    if (end + length > text.size() || units + need > maxUnits) break;
    end += length;
    units += need;
  }
  return text.substr(0, end);
}

}  // namespace fw

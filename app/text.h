// Small text routines shared by the log, the status line and the message boxes.
#pragma once

#include <cstdint>
#include <string>

namespace fw {

// Byte count as "512 B", "1.5 KB", "1 MB", "8.00 GB", "2.00 TB". The thresholds compare kilobytes
// against powers of 1000 while the divisions use powers of 1024 (so 1000..1023 KB read as
// "0.98 MB"), and GB and TB always get two more decimals than asked.
std::string FormatSizeText(int64_t bytes, int decimals);

// Whole seconds as "1 w 1 d 00 h 00 m 00 s ", "1 h 05 m 09 s ", "1 m 05 s "; "" for 0.
std::string FormatDurationText(int64_t seconds);
// The same for a status line's "Remain:" and "Total:", which never stand without a value: "0 s "
// for less than a second.
std::string FormatShownDurationText(int64_t seconds);

// "Error: " + the system's message for an errno value (curl codes are added by the HTTP engine
// through SetErrorTextSource).
std::string GetErrorText(int64_t code);
// A source of texts for codes that are not errno values; returns "" when it does not know the code.
using ErrorTextSource = std::string (*)(int64_t code);
void SetErrorTextSource(ErrorTextSource source);

// The longest start of a UTF-8 text that holds whole characters only and fits `maxUnits` UTF-16
// units (a character beyond U+FFFF takes two, as in an exFAT label and in the label field).
std::string CutToCharacters(const std::string& text, size_t maxUnits);

// High-resolution counter: ticks of a monotonic clock, and their number per second.
int64_t HighResCounter();
int64_t HighResFrequency();

}  // namespace fw

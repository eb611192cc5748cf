#pragma once
// The watch's output: one line an event, in UTF-8, in the scan's three formats. Plain C++.
#include <ctime>
#include <string>

#include "WatchRules.h"

// ISO 8601 in local time with the offset: 2026-12-11T12:34:56+09:00.
std::string localTimeText(std::time_t when);

// The line before the first event: the table's heads or the CSV's columns; JSON has none.
std::string watchHeader(const std::string& format);

// One event as one line, "\n" at its end. JSON: an object with "event", "time", the
// scan's members and, for rebooted, moved and renamed, "previous" with the values that
// changed. CSV: event,time and the scan's columns. Table: aligned columns, the values
// before in the last one, every control character shown as "?".
std::string watchLine(const WatchEvent& event, const std::string& time, const std::string& format);

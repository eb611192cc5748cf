#pragma once
// What the command-line scan prints: the listed rows of the grid as a table, CSV or
// JSON, in UTF-8. Plain C++.
#include <string>
#include <unordered_map>
#include <vector>

#include "DeviceGrid.h"

struct ScanRow {
    long number = 0;
    std::string name, ip, mac, version, uptime;  // UTF-8; ip in plain dotted decimal
    long long uptimeSeconds = 0;
    int model = 0;
};

// Rows 1..found of the grid as shown; models: the model code by MAC.
std::vector<ScanRow> scanRows(const DeviceGrid& grid, int found,
                              const std::unordered_map<std::string, int>& models);
// "table", "csv" or "json". The table shows every control character as "?", so no name
// can move the cursor or break a row; CSV and JSON keep each byte (quoted or escaped).
std::string formatScan(const std::vector<ScanRow>& rows, const std::string& format);

// The pieces of one row, as the list gives them and the watch's event lines repeat them.
inline constexpr const char* kCsvColumns = "number,name,ip,mac,version,uptime,uptime_seconds,model";
inline constexpr const char* kTableHeads[] = {"No.", "Name", "IP address", "MAC address", "Version", "Uptime"};
std::string csvFields(const ScanRow& row);          // 1,QLX-AS00,...: the columns of kCsvColumns
std::string jsonFields(const ScanRow& row);         // "number": 1, "name": ...: an object's members
std::vector<std::string> tableCells(const ScanRow& row);  // the cells under kTableHeads, as shown
std::string csvField(const std::string& utf8);      // quoted when it must be (RFC 4180)
std::string jsonString(const std::string& utf8);    // quoted, control bytes escaped
// A cell as a terminal may show it: each control character becomes "?".
std::string shownCell(const std::string& utf8);
// Columns a terminal gives the text (wide characters two).
std::size_t shownColumns(const std::string& utf8);

// "010.078.002.020" -> "10.78.2.20".
std::string plainAddress(const std::string& padded);
// "00026:03:04" -> 93784; a negative uptime (a wrapped counter) shows its parts negative.
long long uptimeSeconds(const std::string& text);

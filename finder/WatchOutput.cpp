#include "WatchOutput.h"

#include <iterator>
#include <vector>

namespace {

// Fixed widths, so that lines written one at a time line up: wide enough for every
// address, MAC, event and time, for a model name of 16 bytes with its four characters,
// and for versions and running times as appliances give them; a longer text only pushes
// the rest of its own line.
constexpr std::size_t kWidths[] = {8, 25, 3, 20, 15, 17, 12, 11};

std::string aligned(const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t c = 0; c < cells.size(); ++c) {
        line += cells[c];
        if (c < std::size(kWidths) && c + 1 < cells.size()) {
            const std::size_t used = shownColumns(cells[c]);
            line += std::string(used < kWidths[c] ? kWidths[c] - used + 2 : 2, ' ');
        }
    }
    return line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
}

// The values before, as JSON members and as the table's last cell.
std::string previousJson(const WatchEvent& e) {
    const ScanRow& p = e.previous;
    switch (e.kind) {
    case WatchEvent::Kind::Moved: return "\"ip\": " + jsonString(p.ip);
    case WatchEvent::Kind::Renamed: return "\"name\": " + jsonString(p.name) + ", \"version\": " + jsonString(p.version);
    case WatchEvent::Kind::Rebooted:
        return "\"uptime\": " + jsonString(p.uptime) + ", \"uptime_seconds\": " + std::to_string(p.uptimeSeconds);
    default: return {};
    }
}

std::string previousCell(const WatchEvent& e) {
    const ScanRow& p = e.previous;
    switch (e.kind) {
    case WatchEvent::Kind::Moved: return shownCell(p.ip);
    case WatchEvent::Kind::Renamed: return shownCell(p.name) + "  " + shownCell(p.version);
    case WatchEvent::Kind::Rebooted: return shownCell(p.uptime);
    default: return {};
    }
}

}  // namespace

std::string localTimeText(std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char text[40];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local) == 0)
        return {};
    std::string out = text;
    // %z gives +0900; ISO 8601's extended form has +09:00.
    if (out.size() >= 5)
        out.insert(out.size() - 2, ":");
    return out;
}

std::string watchHeader(const std::string& format) {
    if (format == "json")
        return {};
    if (format == "csv")
        return std::string("event,time,") + kCsvColumns + "\n";
    std::vector<std::string> heads = {"Event", "Time"};
    heads.insert(heads.end(), std::begin(kTableHeads), std::end(kTableHeads));
    heads.push_back("Before");
    return aligned(heads);
}

std::string watchLine(const WatchEvent& e, const std::string& time, const std::string& format) {
    const std::string name = eventName(e.kind);
    if (format == "json") {
        const std::string previous = previousJson(e);
        return "{\"event\": " + jsonString(name) + ", \"time\": " + jsonString(time) + ", " + jsonFields(e.row) +
               (previous.empty() ? "" : ", \"previous\": {" + previous + "}") + "}\n";
    }
    if (format == "csv")
        return name + "," + csvField(time) + "," + csvFields(e.row) + "\n";
    std::vector<std::string> cells = {name, time};
    const std::vector<std::string> row = tableCells(e.row);
    cells.insert(cells.end(), row.begin(), row.end());
    cells.push_back(previousCell(e));
    return aligned(cells);
}

#include "ScanOutput.h"

#include <algorithm>
#include <cstdio>

#include "cp932.h"

namespace {

// One part of a shown number: its digits, negative when a '-' is among them.
long long partValue(const std::string& part) {
    long long v = 0;
    for (char c : part)
        if (c >= '0' && c <= '9' && v < 1000000000000LL)
            v = v * 10 + (c - '0');
    return part.find('-') == std::string::npos ? v : -v;
}

std::vector<std::string> split(const std::string& s, char at) {
    std::vector<std::string> parts(1);
    for (char c : s) {
        if (c == at)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

}  // namespace

// RFC 4180: quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string q = "\"";
    for (char c : s)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

std::string jsonString(const std::string& s) {
    std::string q = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            q += '\\';
            q += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            q += esc;
        } else {
            q += static_cast<char>(c);
        }
    }
    return q + "\"";
}

// Columns a terminal gives the UTF-8 text: wide (CJK) characters take two, half-width
// katakana one.
std::size_t shownColumns(const std::string& utf8) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = utf8[i];
        const int len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        unsigned cp = len == 1 ? c : c & (0x3F >> (len - 1));
        for (int k = 1; k < len && i + k < utf8.size(); ++k)
            cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        n += cp >= 0x1100 && !(cp >= 0xFF61 && cp <= 0xFF9F) ? 2 : 1;
        i += len;
    }
    return n;
}

// A cell as the table shows it on a terminal: a control character (C0, DEL, or C1
// written in UTF-8) would move the cursor, clear the screen or break the row, so each
// shows as "?".
std::string shownCell(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const bool c1 = c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0 &&
                        static_cast<unsigned char>(utf8[i + 1]) >= 0x80;
        if (c < 0x20 || c == 0x7F || c1) {
            out += '?';
            i += c1 ? 1 : 0;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}


std::string plainAddress(const std::string& padded) {
    std::string out;
    for (const auto& part : split(padded, '.')) {
        if (!out.empty())
            out += '.';
        out += std::to_string(partValue(part));
    }
    return out;
}

long long uptimeSeconds(const std::string& text) {
    const auto parts = split(text, ':');
    if (parts.size() != 3)
        return 0;
    return partValue(parts[0]) * 3600 + partValue(parts[1]) * 60 + partValue(parts[2]);
}

std::vector<ScanRow> scanRows(const DeviceGrid& grid, int found,
                              const std::unordered_map<std::string, int>& models) {
    std::vector<ScanRow> rows;
    for (int r = 1; r <= found && r < grid.rowCount(); ++r) {
        ScanRow row;
        row.number = partValue(grid.cell(0, r));
        row.name = cp932::toUtf8(grid.cell(1, r));
        row.ip = plainAddress(grid.cell(2, r));
        row.mac = grid.cell(3, r);
        row.version = cp932::toUtf8(grid.cell(4, r));
        row.uptime = grid.cell(5, r);
        row.uptimeSeconds = uptimeSeconds(row.uptime);
        auto m = models.find(row.mac);
        row.model = m == models.end() ? 0 : m->second;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string csvFields(const ScanRow& r) {
    return std::to_string(r.number) + "," + csvField(r.name) + "," + csvField(r.ip) + "," + csvField(r.mac) + "," +
           csvField(r.version) + "," + csvField(r.uptime) + "," + std::to_string(r.uptimeSeconds) + "," +
           std::to_string(r.model);
}

std::string jsonFields(const ScanRow& r) {
    return "\"number\": " + std::to_string(r.number) + ", \"name\": " + jsonString(r.name) +
           ", \"ip\": " + jsonString(r.ip) + ", \"mac\": " + jsonString(r.mac) +
           ", \"version\": " + jsonString(r.version) + ", \"uptime\": " + jsonString(r.uptime) +
           ", \"uptime_seconds\": " + std::to_string(r.uptimeSeconds) + ", \"model\": " + std::to_string(r.model);
}

std::vector<std::string> tableCells(const ScanRow& r) {
    return {std::to_string(r.number), shownCell(r.name), shownCell(r.ip), shownCell(r.mac), shownCell(r.version),
            shownCell(r.uptime)};
}

std::string formatScan(const std::vector<ScanRow>& rows, const std::string& format) {
    std::string out;
    if (format == "csv") {
        out = std::string(kCsvColumns) + "\n";
        for (const auto& r : rows)
            out += csvFields(r) + "\n";
        return out;
    }
    if (format == "json") {
        out = "[";
        for (std::size_t i = 0; i < rows.size(); ++i)
            out += std::string(i ? "," : "") + "\n  {" + jsonFields(rows[i]) + "}";
        return out + (rows.empty() ? "]\n" : "\n]\n");
    }
    // The table: widths as a terminal shows the texts, so double-byte names line up.
    std::vector<std::vector<std::string>> cells = {{std::begin(kTableHeads), std::end(kTableHeads)}};
    for (const auto& r : rows)
        cells.push_back(tableCells(r));
    std::vector<std::size_t> width(6, 0);
    for (const auto& line : cells)
        for (std::size_t c = 0; c < 6; ++c)
            width[c] = std::max(width[c], shownColumns(line[c]));
    for (const auto& line : cells) {
        std::string text;
        for (std::size_t c = 0; c < 6; ++c) {
            text += line[c];
            if (c + 1 < 6)
                text += std::string(width[c] - shownColumns(line[c]) + 2, ' ');
        }
        out += text.substr(0, text.find_last_not_of(' ') + 1) + "\n";
    }
    return out;
}

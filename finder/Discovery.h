#pragma once
// The discovery request the finder broadcasts and the decoder of the appliances'
// replies. Plain C++: the window hands it hex text and a grid, nothing else.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "DeviceGrid.h"

constexpr int kDiscoveryPort = 15580;  // where the appliances listen
constexpr int kReplyPort = 9010;       // the finder's source port; replies come back here

using Octets = std::array<int, 4>;

// The 32-byte request carrying the sender's address; checksum in byte 5.
std::array<std::uint8_t, 32> discoveryRequest(const Octets& local);
// First three octets of the local address in plain decimal, then 255.
std::string broadcastHost(const Octets& local);
// Dotted text split at its first three dots; a part that is not decimal gives 0.
Octets splitOctets(std::string_view dotted);

// Hex digits of the text, read right to left; other characters are skipped. Wraps.
std::int32_t HexToInt(std::string_view text);
// Decimal text, "0"-padded in front to the width (at most 16 zeros added).
std::string ZeroPad(std::int32_t value, int width);
// The fixed name prefix of a model code ("???-" for unknown codes).
std::string ModelTable(int code);

// Every byte as two upper-case hex digits, nothing between.
std::string hexText(std::string_view bytes);

// What the decoder reads besides the reply: the model-name file's lines and the test switch.
struct DecodeRules {
    std::vector<std::string> modelLines;
    std::string testMode = "0";
};

// Prefix of a device name: the table, then the model-name lines, then the test switch.
std::string namePrefix(int code, const DecodeRules& rules);

// Marker 00 80 00 and a byte 3 that does not read as a decimal 3 or more.
bool replyAccepted(std::string_view hex);

// One table row as the decoder writes it.
struct DeviceEntry {
    std::string number, name, ip, mac, version, uptime;
};
DeviceEntry decodeReply(std::string_view hex, int number, const DecodeRules& rules);
std::string macText(std::string_view hex);
// The model code (byte 6) of a reply.
int replyModel(std::string_view hex);
std::string uptimeText(std::int32_t seconds);

// The MAC texts of rows 1..foundCount, so that a reply finds its row in constant time
// however many are listed. When the grid was changed behind its back (a row count that
// differs, a row that no longer holds the MAC) it reads the rows again.
class MacIndex {
public:
    bool listed(const DeviceGrid& grid, int foundCount, const std::string& mac);
    void add(const std::string& mac, int row);
    void clear();

private:
    void rebuild(const DeviceGrid& grid, int foundCount);
    std::unordered_map<std::string, int> rows_;
    int count_ = 0;
};

// The rows as a new run starts: every data row empty and nothing listed; the grid keeps
// its row count.
void clearRows(DeviceGrid& grid, int& foundCount, MacIndex& index);

// Accepts a reply from an appliance not yet listed (by MAC text among rows 1..foundCount)
// and writes it into row foundCount+1, growing the grid beyond ten data rows.
// Returns the row written, or 0 when the reply was ignored.
int addReply(DeviceGrid& grid, int& foundCount, std::string_view hex, const DecodeRules& rules,
             MacIndex* index = nullptr);

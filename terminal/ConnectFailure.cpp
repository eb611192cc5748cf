#include "ConnectFailure.h"

#include "IdSocketErrors.h"
#include "cp932.h"

namespace {

struct Reason {
    int code;
    const char* japanese;
    const char* english;  // for the codes whose table text is empty (the host lookup ones)
};

// The reasons a user meets when connecting; any other code is told by its table text.
constexpr Reason kReasons[] = {
    {WSAECONNREFUSED, "接続が拒否されました", nullptr},
    {WSAETIMEDOUT, "接続がタイムアウトしました", nullptr},
    {10051, "ネットワークに到達できません", nullptr},
    {10064, "ホストが停止しています", nullptr},
    {10065, "ホストへの経路がありません", nullptr},
    {10049, "アドレスを割り当てられません", nullptr},
    {WSAHOST_NOT_FOUND, "ホスト名を解決できません", "Host not found"},
    {WSATRY_AGAIN, "ホスト名を解決できません", "Temporary failure in name resolution"},
    {WSANO_RECOVERY, "ホスト名を解決できません", "Name server failure"},
    {WSANO_DATA, "ホスト名を解決できません", "No address for the name"},
};

// The table's English text without its closing full stop and blank.
std::string englishOf(int code) {
    std::string text = SocketErrorTableText(code);
    while (!text.empty() && (text.back() == '.' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

std::string connectFailureLine(const std::string& host, int port, int socketCode) {
    const Reason* known = nullptr;
    for (const Reason& r : kReasons)
        if (r.code == socketCode)
            known = &r;
    std::string english = known && known->english ? known->english : englishOf(socketCode);
    if (english.empty())
        english = "Socket Error # " + std::to_string(socketCode);
    const std::string japanese = known ? known->japanese : "接続できません";
    return "qterm: " + cp932::toUtf8(host) + ":" + std::to_string(port) + ": " + japanese + " (" + english + ")";
}

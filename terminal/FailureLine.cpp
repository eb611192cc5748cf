#include "FailureLine.h"

#include "errortext.h"

std::string failureLine(const std::string& host, int port, const std::string& message) {
    std::string text;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (c == '\r' && i + 1 < message.size() && message[i + 1] == '\n')
            continue;  // CR LF is one break
        text += (c == '\r' || c == '\n') ? ' ' : c;
    }
    return "qterm: " + host + " port " + std::to_string(port) + ": " + appErrorText(text);
}

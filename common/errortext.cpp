#include "errortext.h"

std::string appErrorText(std::string message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        message += '.';
    return message;
}

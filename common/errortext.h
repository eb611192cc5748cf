#pragma once
#include <string>

// Text of the application error box: the message, with "." appended when its last
// byte sorts after "." in byte order ("Failed" -> "Failed.", "Done." stays).
std::string appErrorText(std::string message);

#pragma once
// The one place where CP932 byte text meets QString (the widget boundary).
#include <QString>
#include <string>
#include <string_view>

QString toQ(std::string_view sjis);
std::string fromQ(const QString& text);

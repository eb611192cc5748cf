#include "qtext.h"

#include "cp932.h"

QString toQ(std::string_view sjis) {
    std::string u = cp932::toUtf8(sjis);
    return QString::fromUtf8(u.data(), static_cast<qsizetype>(u.size()));
}

std::string fromQ(const QString& text) {
    QByteArray u = text.toUtf8();
    return cp932::fromUtf8(std::string_view(u.constData(), static_cast<size_t>(u.size())));
}

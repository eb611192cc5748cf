#include "qtext.h"

#include "cp932.h"

QString toQ(std::string_view sjis) {
    // ASCII is the same in code page 932 and Unicode: long runs of it skip the converter.
    bool ascii = true;
    for (unsigned char c : sjis)
        ascii = ascii && c < 0x80;
    if (ascii)
        return QString::fromLatin1(sjis.data(), static_cast<qsizetype>(sjis.size()));
    std::string u = cp932::toUtf8(sjis);
    return QString::fromUtf8(u.data(), static_cast<qsizetype>(u.size()));
}

std::string fromQ(const QString& text) {
    QByteArray u = text.toUtf8();
    return cp932::fromUtf8(std::string_view(u.constData(), static_cast<size_t>(u.size())));
}

// Prints the clipboard's text as another program on the same X display reads it, so a
// test can see what the finder offered there, not only its own copy of it.
#include <QClipboard>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QByteArray text = QGuiApplication::clipboard()->text().toUtf8();
    return std::fwrite(text.data(), 1, text.size(), stdout) == std::size_t(text.size()) && std::fflush(stdout) == 0 ? 0 : 1;
}

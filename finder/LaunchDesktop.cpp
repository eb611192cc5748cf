// The real launcher: Qt's desktop services for what is opened, a detached process
// (no shell) for what is run.
#include <QDesktopServices>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QUrl>

#include "Launch.h"
#include "qtext.h"

void DesktopLauncher::openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(toQ(url)));
}

void DesktopLauncher::startUtility(const std::string& file, const std::string& parameters) {
    const std::string found = findProgram(file, search_ ? *search_ : ProgramSearch::system());
    if (found.empty()) return;  // gone since the button was enabled: nothing to start
    const QString path = QFile::decodeName(QByteArray::fromStdString(found));
    if (launchKindOf(found) == LaunchKind::Document) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
        return;
    }
    QStringList args;
    for (const std::string& a : splitArguments(parameters)) args << toQ(a);
    QProcess::startDetached(path, args);
}

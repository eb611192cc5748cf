// qlxsearch: finds the appliances on the local network.
// Usage: qlxsearch [--address A.B.C.D]  (the local address to search from)
#include <QCoreApplication>
#include <QFile>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "InstanceLock.h"
#include "Unit1.h"
#include "guardedapp.h"

int main(int argc, char** argv) {
    std::string address;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--address") == 0) {
            if (i + 1 >= argc || !isDottedQuad(argv[i + 1])) {
                std::fprintf(stderr, "qlxsearch: --address needs an IPv4 address A.B.C.D\n");
                return 2;
            }
            address = argv[++i];
        }

    // A second finder ends at once, silently.
    InstanceLock lock("zqh0003");
    if (!lock.acquired())
        return 0;

    GuardedApplication app(argc, argv);
    FormServices services;
    if (!address.empty())
        services.targets.addresses = {address};
    try {
        const std::string exe = QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
        TqsearchForm form(std::move(services),
                          StartSettings::fromFiles(settingsPaths(exe, PathProbe::system())));
        form.show();
        return app.exec();
    } catch (const std::exception& e) {
        // The window could not be made (no socket, for one): say why, like any handler error.
        GuardedApplication::showErrorBox(e.what());
        return 1;
    }
}

// Runs one search of the finder's window with the system's own address rules and
// prints what it found: used by the namespace tests.
// Options: --all-networks, --address A.B.C.D (repeatable), --probe ADDRESS[/NN]
// (repeatable), --tick MS (300 by default).
// "searching" is printed once the run holds its port.
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Unit1.h"
#include "fakes.h"
#include "guardedapp.h"

int main(int argc, char** argv) {
    FormServices services;
    services.tickMs = 300;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--all-networks") == 0)
            services.targets.allNetworks = true;
        else if (std::strcmp(argv[i], "--address") == 0 && i + 1 < argc)
            services.targets.addresses.push_back(argv[++i]);
        else if (std::strcmp(argv[i], "--probe") == 0 && i + 1 < argc) {
            ProbeRange r;
            if (!parseProbe(argv[++i], r).empty())
                return 2;
            services.targets.probes.push_back(r);
        } else if (std::strcmp(argv[i], "--tick") == 0 && i + 1 < argc)
            services.tickMs = std::atoi(argv[++i]);
    }
    GuardedApplication app(argc, argv);
    app.setErrorSink([](const std::string& m) { std::printf("error %s\n", m.c_str()); });
    services.dialogs = std::make_shared<RecordingDialogs>();
    services.finalWaitMs = 300;
    StartSettings settings = StartSettings::defaults();
    settings.settingsFileExists = true;
    TqsearchForm form(services, settings);
    QTimer::singleShot(0, [&] {
        form.BitBtn2Click();
        std::printf("searching\n");
        std::fflush(stdout);
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (form.BitBtn2->isEnabled() && !form.Timer1->isActive())
            app.quit();
    });
    poll.start(5);
    QTimer::singleShot(10000 + 4 * services.tickMs, [&] { app.quit(); });
    app.exec();
    std::printf("address %s\n", form.Run.Panel2.c_str());
    std::printf("found %d\n", form.Run.FoundCount);
    for (int row = 1; row <= form.Run.FoundCount; ++row)
        std::printf("mac %s\n", form.grid().cell(3, row).c_str());
    return 0;
}

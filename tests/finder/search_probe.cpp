// Runs one search of the finder's window with the system's own address rules and
// prints what it found: used by the real-subnet test inside a network namespace.
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "Unit1.h"
#include "fakes.h"
#include "guardedapp.h"

int main(int argc, char** argv) {
    GuardedApplication app(argc, argv);
    app.setErrorSink([](const std::string& m) { std::printf("error %s\n", m.c_str()); });
    FormServices services;
    services.dialogs = std::make_shared<RecordingDialogs>();
    services.tickMs = 300;
    services.finalWaitMs = 300;
    StartSettings settings = StartSettings::defaults();
    settings.settingsFileExists = true;
    TqsearchForm form(services, settings);
    QTimer::singleShot(0, [&] { form.BitBtn2Click(); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (form.BitBtn2->isEnabled() && !form.Timer1->isActive())
            app.quit();
    });
    poll.start(5);
    QTimer::singleShot(10000, [&] { app.quit(); });
    app.exec();
    std::printf("address %s\n", form.Panel2.c_str());
    std::printf("found %d\n", form.FoundCount);
    for (int row = 1; row <= form.FoundCount; ++row)
        std::printf("mac %s\n", form.grid().cell(3, row).c_str());
    return 0;
}

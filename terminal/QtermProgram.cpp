#include "QtermProgram.h"

#include <cstdio>
#include <string>
#include <vector>

#include <QGuiApplication>

#include "CommandLine.h"
#include "FailureLine.h"
#include "guardedapp.h"
#include "mainform.h"
#include "qtext.h"
#include "stdoutput.h"

int runQterm(int argc, char** argv, const std::function<void(TqTermMain&)>& started) {
    stdoutput::holdClosedStreams();
    // Help, version and usage errors need no display, so they come before the application.
    CommandLine cl = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (cl.action) {
    case CommandLine::Action::Help: return stdoutput::print("qterm", usageText());
    case CommandLine::Action::Version: return stdoutput::print("qterm", versionText());
    case CommandLine::Action::UsageError:
        std::fprintf(stderr, "qterm: %s\n%s", cl.error.c_str(), tryHelpText().c_str());
        return 2;
    case CommandLine::Action::Run: break;
    }

    GuardedApplication app(argc, argv);
    app.setApplicationName("qterm");
    QGuiApplication::setDesktopFileName("io.github.qlxtools.qterm");
    // The host is text of the program (code page 932); the log file stays a file name.
    cl.args.host = fromQ(QString::fromLocal8Bit(cl.args.host.c_str()));
    TqTermMain qTermMain(cl.args);
    // Neither failure shows a message in the window, so the shell learns of it here.
    auto failed = [&](const std::string& why) {
        const TIdTelnet& t = qTermMain.telnet();
        std::fprintf(stderr, "%s\n", failureLine(t.Host, t.Port, why).c_str());
        return 1;
    };
    if (!qTermMain.FormShow())
        return failed(qTermMain.startError());
    qTermMain.show();
    if (started)
        started(qTermMain);
    const int status = app.exec();
    if (!qTermMain.lostError().empty())
        return failed(qTermMain.lostError());
    return app.errorsReported() > 0 ? 1 : status;
}

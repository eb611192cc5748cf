#include "QtermProgram.h"

#include <cstdio>
#include <string>
#include <vector>

#include "FailureLine.h"
#include "guardedapp.h"
#include "mainform.h"
#include "qtext.h"

int runQterm(int argc, char** argv, const std::function<void(TqTermMain&)>& started) {
    GuardedApplication app(argc, argv);
    app.setApplicationName("qterm");
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(fromQ(QString::fromLocal8Bit(argv[i])));
    try {
        parseQtermArgs(args);
    } catch (const QtermUsageError& e) {
        std::fprintf(stderr, "qterm: %s\nusage: qterm [--connect-timeout SECONDS] [host [port]]\n", e.what());
        return 2;
    }
    TqTermMain qTermMain(args);
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

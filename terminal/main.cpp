// qterm [options] [host [port]]: a telnet client window for one connection.
#include <cstdio>

#include "CommandLine.h"
#include "guardedapp.h"
#include "mainform.h"
#include "qtext.h"

int main(int argc, char** argv) {
    // Help, version and usage errors need no display, so they come before the application.
    CommandLine cl = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (cl.action) {
    case CommandLine::Action::Help: std::fputs(usageText().c_str(), stdout); return 0;
    case CommandLine::Action::Version: std::fputs(versionText().c_str(), stdout); return 0;
    case CommandLine::Action::UsageError:
        std::fprintf(stderr, "qterm: %s\n%s", cl.error.c_str(), usageText().c_str());
        return 2;
    case CommandLine::Action::Run: break;
    }

    GuardedApplication app(argc, argv);
    app.setApplicationName("qterm");
    const std::string hostArg = cl.args.host;
    // The host is text of the program (code page 932); the log file stays a file name.
    cl.args.host = fromQ(QString::fromLocal8Bit(hostArg.c_str()));
    TqTermMain qTermMain(cl.args);
    if (!qTermMain.FormShow()) {
        // The window closes without a message; the shell still learns that it failed.
        std::fprintf(stderr, "qterm: %s port %d: %s\n", hostArg.c_str(), qTermMain.telnet().Port,
                     qTermMain.startError().c_str());
        return 1;
    }
    qTermMain.show();
    return app.exec();
}

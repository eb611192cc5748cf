#include "QtermProgram.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QGuiApplication>

#include "CommandLine.h"
#include "FailureLine.h"
#include "ScriptBatch.h"
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

    // A script is read and checked whole before any connect.
    std::optional<Script> script;
    if (!cl.args.scriptFile.empty()) {
        ScriptParse parsed = readScript(cl.args.scriptFile);
        if (!parsed.error)
            parsed.error = missingVariable(parsed.script, [](const std::string& n) { return std::getenv(n.c_str()); });
        if (parsed.error) {
            std::fprintf(stderr, "qterm: %s\n",
                         scriptMessage(cl.args.scriptFile, parsed.error->line, parsed.error->reason).c_str());
            return 2;
        }
        script = std::move(parsed.script);
    }
    if (cl.args.batch) {
        // No window, so no display either.
        QCoreApplication app(argc, argv);
        app.setApplicationName("qterm");
        cl.args.host = fromQ(QString::fromLocal8Bit(cl.args.host.c_str()));
        return runScriptBatch(cl.args, *script);
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
    if (!qTermMain.FormShow()) {
        failed(qTermMain.startError());
        return script ? 2 : 1;
    }
    qTermMain.show();
    if (started)
        started(qTermMain);
    if (script)
        qTermMain.runScript(std::move(*script));
    const int status = app.exec();
    qTermMain.endScript();
    if (!qTermMain.lostError().empty())
        return failed(qTermMain.lostError());
    if (const std::optional<int> s = qTermMain.scriptStatus(); s && *s != 0)
        return *s;
    return app.errorsReported() > 0 ? 1 : status;
}

// qterm [host [port]]: a telnet client window for one connection.
#include <cstdio>

#include "guardedapp.h"
#include "mainform.h"
#include "qtext.h"

int main(int argc, char** argv) {
    GuardedApplication app(argc, argv);
    app.setApplicationName("qterm");
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(fromQ(QString::fromLocal8Bit(argv[i])));
    TqTermMain qTermMain(args);
    if (!qTermMain.FormShow()) {
        // The window closes without a message; the shell still learns that it failed.
        std::fprintf(stderr, "qterm: %s port %d: %s\n", argv[1], qTermMain.telnet().Port,
                     qTermMain.startError().c_str());
        return 1;
    }
    qTermMain.show();
    return app.exec();
}

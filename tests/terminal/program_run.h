#pragma once
// The whole qterm program in this process, with its event loop and the real error box,
// which the test finds in the widget tree, reads and closes as a user would.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "QtermProgram.h"
#include "mainform.h"

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool windowOpen = true;  // whether the terminal window was still shown under it
};

struct RunOutcome {
    int status = -1;
    std::vector<SeenBox> boxes;
};

// Runs qterm with args; act runs in the event loop once the window is shown. Every message
// box with an OK button that appears (an error box, a notice) is recorded and dismissed with
// that button; a question is left to the test.
inline RunOutcome runWithBoxes(std::vector<std::string> args, std::function<void(TqTermMain&)> act) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    args.insert(args.begin(), "qterm");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int argc = int(args.size());
    RunOutcome run;
    run.status = runQterm(argc, argv.data(), [&](TqTermMain& w) {
        QTimer::singleShot(0, &w, [&w, act] { act(w); });
        auto* poll = new QTimer(&w);
        QObject::connect(poll, &QTimer::timeout, [&run, &w] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(top);
                if (!box || !box->isVisible() || !box->button(QMessageBox::Ok))
                    continue;
                run.boxes.push_back({box->windowTitle(), box->text(), box->icon(), w.isVisible()});
                box->button(QMessageBox::Ok)->click();
            }
        });
        poll->start(20);
    });
    return run;
}

// The finder's real error box for a handler error: this test program is built under the
// finder's own name, so the box takes its title from the executable as qlxsearch does. The
// box is found in the widget tree while the event loop runs under it, read, and closed
// through its OK button's accessible action.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "ApplianceSim.h"
#include "Unit1.h"
#include "fakes.h"
#include "guardedapp.h"
#include "portlock.h"

namespace {

QMessageBox* openBox() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            return box;
    return nullptr;
}

// Presses the button of that name below `node` the way assistive technology does.
bool pressButton(QAccessibleInterface* node, const QString& name) {
    if (!node)
        return false;
    if (node->role() == QAccessible::PushButton && QString(node->text(QAccessible::Name)).remove('&') == name) {
        QAccessibleActionInterface* action = node->actionInterface();
        if (!action)
            return false;
        action->doAction(QAccessibleActionInterface::pressAction());
        return true;
    }
    for (int i = 0; i < node->childCount(); ++i)
        if (pressButton(node->child(i), name))
            return true;
    return false;
}

struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    QString button;
    bool runEndedUnderIt = false;
    bool pressed = false;
};

}  // namespace

TEST(FinderErrorBox, FailedReceiveShowsTheBoxAndTheRunGoesOnUnderIt) {
    ASSERT_EQ(QCoreApplication::applicationName(), "qlxsearch");
    PortLock ports;
    auto list = sampleAppliances(2);
    for (auto& a : list)
        a.delayMs = 50;  // nothing waits in the socket right after the click
    ApplianceSim sim(list);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;

    FormServices s;
    s.dialogs = std::make_shared<RecordingDialogs>();  // the end-of-run report, not the error box
    s.addresses = std::make_shared<FixedAddressSource>("127.0.0.1");
    s.tickMs = 200;
    s.finalWaitMs = 100;
    TqsearchForm form(s, StartSettings::defaults());
    form.show();

    std::vector<SeenBox> seen;
    QMessageBox* current = nullptr;
    QElapsedTimer deadline;
    deadline.start();
    QTimer watch;  // runs inside the box's own loop as well as the test's
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QMessageBox* box = openBox();
        if (box && box != current) {
            current = box;
            SeenBox b;
            b.title = box->windowTitle();
            b.text = box->text();
            b.icon = box->icon();
            b.buttons = static_cast<int>(box->buttons().size());
            if (!box->buttons().isEmpty())
                b.button = box->buttons().front()->text().remove('&');
            seen.push_back(b);
        }
        // Close it once the run has ended under it: the loop kept going while it was open.
        // The press animates a click, which lands a moment later: press once.
        if (box && !seen.back().pressed && form.BitBtn2->isEnabled() && !form.Timer1->isActive()) {
            seen.back().runEndedUnderIt = true;
            seen.back().pressed = pressButton(QAccessible::queryAccessibleInterface(box), "OK");
        }
        if (box && deadline.hasExpired(15000))
            box->done(QMessageBox::Ok);  // fail, but do not leave the test in the box's loop
    });
    watch.start(5);

    form.BitBtn2->click();
    form.NMUDP1.ReceiveDatagram();  // a read notification with nothing waiting: the copy fails

    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!seen.empty() && !openBox() && form.BitBtn2->isEnabled())
            loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(15000, &loop, &QEventLoop::quit);
    loop.exec();

    ASSERT_EQ(seen.size(), 1u) << "one box for the one error";
    EXPECT_EQ(seen[0].title, "qlxsearch");
    EXPECT_EQ(seen[0].icon, QMessageBox::Critical);
    EXPECT_EQ(seen[0].text, QString::fromUtf8("ストリームへの書き込みエラー."));
    EXPECT_EQ(seen[0].buttons, 1);
    EXPECT_EQ(seen[0].button, "OK");
    EXPECT_TRUE(seen[0].runEndedUnderIt);
    EXPECT_TRUE(seen[0].pressed) << "the OK button is reachable through the accessibility tree";
    EXPECT_EQ(openBox(), nullptr) << "the box closed through its button";
    EXPECT_EQ(form.Run.FoundCount, 2);  // replies that came while the box was open were listed
}

#include <gtest/gtest.h>

#include <QTimer>
#include <stdexcept>

#include "guardedapp.h"

// A handler that throws ends; the error reaches the sink once and the loop goes on.
TEST(GuardedApplication, HandlerErrorsReachTheSinkAndTheLoopContinues) {
    auto* app = static_cast<GuardedApplication*>(QCoreApplication::instance());
    std::vector<std::string> seen;
    app->setErrorSink([&](const std::string& m) { seen.push_back(m); });
    bool after = false;
    QTimer::singleShot(0, [] { throw std::runtime_error("Invalid buffer"); });
    QTimer::singleShot(10, [&] {
        after = true;
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    EXPECT_TRUE(after);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "Invalid buffer");
    app->setErrorSink(&GuardedApplication::showErrorBox);
}

#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <future>
#include <thread>

#include "RaiseChannel.h"
#include "RaiseWatch.h"
#include "Unit1.h"
#include "../waituntil.h"
#include "fakes.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::unique_ptr<TqsearchForm> makeForm() {
    FormServices svc;
    svc.dialogs = std::make_shared<RecordingDialogs>();
    svc.addresses = std::make_shared<FixedAddressSource>("127.0.0.1");
    StartSettings s = StartSettings::defaults();
    s.settingsFileExists = true;
    return std::make_unique<TqsearchForm>(svc, s);
}

}  // namespace

// The whole first-finder side with the event loop going: a second start's request, from
// another thread as from another process, brings the window back from behind another
// window and from minimised, and is answered only then.
TEST(RaiseWindow, RequestOnTheSocketBringsTheWindowToTheFront) {
    char tmpl[] = "/tmp/qlx-raisewin-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string path = std::string(tmpl) + "/zqh0003.sock";
    {
        RaiseListener listener(path);
        ASSERT_TRUE(listener.listening()) << listener.problem();
        auto form = makeForm();
        int raises = 0;
        RaiseWatch watch(listener, [&] {
            ++raises;
            bringToFront(*form);
        });
        form->show();
        QWidget other;
        other.resize(200, 100);
        other.show();

        struct Step {
            const char* name;
            std::function<void()> hide;
        } steps[] = {
            {"behind another window", [&] { other.activateWindow(); }},
            {"minimised", [&] {
                 form->showMinimized();
                 other.activateWindow();
             }},
        };
        for (const Step& st : steps) {
            st.hide();
            ASSERT_TRUE(waitUntil([&] { return !form->isActiveWindow() && other.isActiveWindow(); }, 5000)) << st.name;
            auto asked = std::async(std::launch::async, [&] { return askToRaise(path, 10s); });
            ASSERT_TRUE(waitUntil([&] { return asked.wait_for(0s) == std::future_status::ready; }, 15000)) << st.name;
            EXPECT_TRUE(asked.get().raised) << st.name;
            EXPECT_TRUE(waitUntil([&] { return form->isActiveWindow(); }, 5000)) << st.name;
            EXPECT_FALSE(form->isMinimized()) << st.name;
            EXPECT_TRUE(form->isVisible()) << st.name;
        }
        EXPECT_EQ(raises, 2);
    }
    EXPECT_FALSE(fs::exists(path)) << "the listener removes its socket when it goes";
    fs::remove_all(tmpl);
}

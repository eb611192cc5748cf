#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "IdException.h"
#include "IdThread.h"
#include "QueueDispatcher.h"

namespace {

using namespace std::chrono_literals;

// What a test thread saw; it outlives the thread, which frees itself.
struct Record {
  std::atomic<int> passes{0};
  std::atomic<bool> before{false};
  std::atomic<bool> after{false};
  std::atomic<bool> freed{false};
  std::atomic<bool> onError{false};
};

class ScriptedThread : public TIdThread {
 public:
  // pass(n) runs as pass n (from 1); the field is set here, before the body starts.
  ScriptedThread(Record& r, std::function<void(ScriptedThread&, int)> pass)
      : FRecord(r), FPass(std::move(pass)) {
    FreeOnTerminate = true;
  }
  ~ScriptedThread() override { FRecord.freed = true; }
  using TIdThread::RunInWindowThread;

 protected:
  void BeforeLoop() override { FRecord.before = true; }
  void AfterLoop() override { FRecord.after = true; }
  void RunOnce() override { FPass(*this, ++FRecord.passes); }

 private:
  Record& FRecord;
  std::function<void(ScriptedThread&, int)> FPass;
};

}  // namespace

TEST(Thread, AnErrorInAPassEndsItSilentlyWithItsMessageKept) {
  Record r;
  auto* t = new ScriptedThread(r, [](ScriptedThread&, int n) {
    if (n == 3) throw EIdException("pass three failed");
  });
  t->OnError = [&](TIdThread&, const std::exception& e) {
    r.onError = std::string(e.what()) == "pass three failed";
  };
  TIdThreadLink link = t->Start();
  link.WaitForEnd();
  EXPECT_FALSE(link.Running());
  EXPECT_EQ(r.passes.load(), 3);
  EXPECT_TRUE(r.before && r.after) << "AfterLoop runs after an error too";
  EXPECT_TRUE(r.onError);
  EXPECT_TRUE(r.freed) << "released itself";
  EXPECT_EQ(link.TerminatingMessage(), "pass three failed");
}

TEST(Thread, TheStopFlagIsTestedBeforeEachPassNeverDuringOne) {
  Record r;
  std::atomic<bool> passFinished{false};
  auto* t = new ScriptedThread(r, [&](ScriptedThread& self, int) {
    self.RequestStop();
    std::this_thread::sleep_for(5ms);
    passFinished = true;
  });
  TIdThreadLink link = t->Start();
  link.WaitForEnd();
  EXPECT_EQ(r.passes.load(), 1);
  EXPECT_TRUE(passFinished);
  EXPECT_TRUE(r.after);
  EXPECT_EQ(link.TerminatingMessage(), "");
}

TEST(Thread, LinkStopsARunningThreadAndOutlivesIt) {
  Record r;
  auto* t = new ScriptedThread(r, [](ScriptedThread&, int) { std::this_thread::sleep_for(1ms); });
  TIdThreadLink link = t->Start();
  EXPECT_TRUE(link.Running());
  link.RequestStop();
  link.WaitForEnd();
  EXPECT_FALSE(link.Running());
  EXPECT_TRUE(r.freed);
  link.RequestStop();  // an ended thread is never touched
  {
    Record r2;
    TIdThreadLink scoped =
        (new ScriptedThread(r2, [](ScriptedThread&, int) { std::this_thread::sleep_for(1ms); }))
            ->Start();
    // Leaving the scope stops and waits.
  }
}

TEST(RunInWindowThread, RunsOnTheWindowThreadAndWaitsForIt) {
  TIdQueueDispatcher window;
  Record r;
  std::vector<std::thread::id> ranOn;
  std::vector<int> returnedWhenRun;
  std::atomic<int> returned{0};
  auto* t = new ScriptedThread(r, [&](ScriptedThread& self, int n) {
    self.RunInWindowThread([&] {
      std::this_thread::sleep_for(2ms);  // a thread that did not wait would run ahead now
      ranOn.push_back(std::this_thread::get_id());
      returnedWhenRun.push_back(returned.load());
    });
    returned = n;
    if (n == 3) self.RequestStop();
  });
  t->SetDispatcher(&window);
  TIdThreadLink link = t->Start();
  ASSERT_TRUE(window.RunUntil([&] { return !link.Running(); }, 5s));
  link.WaitForEnd();
  EXPECT_EQ(returnedWhenRun, (std::vector<int>{0, 1, 2}));
  ASSERT_EQ(ranOn.size(), 3u);
  for (auto id : ranOn) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(RunInWindowThread, AnErrorOnTheWindowThreadComesBackToTheWaitingThread) {
  TIdQueueDispatcher window;
  Record r;
  auto* t = new ScriptedThread(r, [&](ScriptedThread& self, int) {
    self.RunInWindowThread([] { throw EIdException("OnDataAvailable event is nil."); });
  });
  t->SetDispatcher(&window);
  TIdThreadLink link = t->Start();
  ASSERT_TRUE(window.RunUntil([&] { return !link.Running(); }, 5s));
  EXPECT_EQ(r.passes.load(), 1);
  EXPECT_EQ(link.TerminatingMessage(), "OnDataAvailable event is nil.");
}

TEST(RunInWindowThread, AStopWhileWaitingTakesTheCallBack) {
  TIdQueueDispatcher window;
  Record r;
  std::atomic<bool> posted{false};
  std::atomic<bool> ran{false};
  auto* t = new ScriptedThread(r, [&](ScriptedThread& self, int) {
    posted = true;
    self.RunInWindowThread([&] { ran = true; });
  });
  t->SetDispatcher(&window);
  TIdThreadLink link = t->Start();
  while (!posted) std::this_thread::yield();
  link.RequestStop();
  link.WaitForEnd();  // the window thread never ran the queue: no deadlock
  EXPECT_EQ(link.TerminatingMessage(), EIdThreadCallWithdrawn().what());
  EXPECT_TRUE(r.freed);
  window.RunPending();  // the withdrawn call comes up after the thread is gone
  EXPECT_FALSE(ran);
}

TEST(RunInWindowThread, WithoutADispatcherRaises) {
  Record r;
  auto* t = new ScriptedThread(r, [](ScriptedThread& self, int) { self.RunInWindowThread([] {}); });
  TIdThreadLink link = t->Start();
  link.WaitForEnd();
  EXPECT_EQ(link.TerminatingMessage(), EIdNoWindowDispatcher().what());
}

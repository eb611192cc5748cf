// A worker thread that runs a per-pass operation until it is stopped or an error escapes, and
// can hand a call to the window thread and wait for it.
//
// Life cycle:
//   auto* t = new TMyThread(...);          // subclass sets its fields, FreeOnTerminate, OnError
//   t->SetDispatcher(&dispatcher);          // needed only if it calls RunInWindowThread
//   TIdThreadLink link = t->Start();        // the body starts now, after construction is done
// With FreeOnTerminate the thread deletes itself when its body returns; from then on only
// the link may be used (never the pointer). Without it, the owner waits with the link and then
// deletes the object.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// How a thread reaches the window thread: Post queues a call to run there and wakes it; it
// returns at once and may be called from any thread. The terminal window implements it on
// the Qt event loop; tests run a queue themselves (TIdQueueDispatcher in the test support).
// A call that was posted must be run (or dropped only when the process ends).
class TIdWindowDispatcher {
 public:
  virtual ~TIdWindowDispatcher() = default;
  virtual void Post(std::function<void()> call) = 0;
};

class TIdThread;

// The owner's handle on a started thread. It stays valid after a self-releasing thread has
// ended and freed itself, and never touches a thread that has ended.
class TIdThreadLink {
 public:
  TIdThreadLink() = default;
  TIdThreadLink(TIdThreadLink&&) noexcept = default;
  // Assigning over a link first stops the thread it held and waits for its end.
  TIdThreadLink& operator=(TIdThreadLink&& other) noexcept;
  // Stops the thread and waits for its end: no thread outlives the link's owner.
  ~TIdThreadLink();

  bool Empty() const { return !FState; }
  // True until the thread's body has returned.
  bool Running() const;
  // Sets the stop flag of a thread that still runs (it is tested before each pass) and takes
  // back a call it is waiting on in RunInWindowThread, if the window has not started it yet.
  // Does not wait.
  void RequestStop();
  // Waits until the thread has ended, freed itself included. Not from the thread itself, and
  // not from the window thread while the thread may wait for it unless RequestStop came first.
  void WaitForEnd();
  // The message of the error that ended the loop, once Running() is false; empty otherwise.
  std::string TerminatingMessage() const;

 private:
  friend class TIdThread;
  struct State;
  explicit TIdThreadLink(std::shared_ptr<State> s) : FState(std::move(s)) {}
  std::shared_ptr<State> FState;
};

class TIdThread {
 public:
  virtual ~TIdThread();
  TIdThread(const TIdThread&) = delete;
  TIdThread& operator=(const TIdThread&) = delete;

  // Starts the body on its own thread. Call once, after construction has completed.
  TIdThreadLink Start();
  void RequestStop();
  bool Stopped() const { return FStop.load(); }
  void SetDispatcher(TIdWindowDispatcher* dispatcher) { FDispatcher = dispatcher; }
  // Set when the loop ended by an error; read it from the thread itself or through the link.
  const std::string& TerminatingMessage() const { return FTerminatingMessage; }

  // Called on the thread with the error that ended the loop; optional.
  std::function<void(TIdThread& thread, const std::exception& error)> OnError;

 protected:
  TIdThread();

  virtual void RunOnce() = 0;
  virtual void BeforeLoop() {}
  virtual void AfterLoop() {}

  // Runs call on the window thread and blocks until it has returned; an error it raised there
  // is raised again here. A stop request while waiting takes the call back if the window has
  // not started it, and raises EIdThreadCallWithdrawn; so does calling it once stopped.
  void RunInWindowThread(std::function<void()> call);

  // Set by the subclass (constructor): the thread deletes itself when its body returns.
  bool FreeOnTerminate = false;

 private:
  struct Call;
  void Body();

  std::atomic<bool> FStop{false};
  TIdWindowDispatcher* FDispatcher = nullptr;
  std::string FTerminatingMessage;
  std::shared_ptr<TIdThreadLink::State> FState;
  std::mutex FCallLock;  // guards FPending against RequestStop from another thread
  std::shared_ptr<Call> FPending;
};

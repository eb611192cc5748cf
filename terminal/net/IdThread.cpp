#include "IdThread.h"

#include "IdException.h"

// Shared by the thread and its links; outlives both.
struct TIdThreadLink::State {
  std::mutex lock;
  TIdThread* thread = nullptr;  // null once the body has returned
  std::string terminatingMessage;
  std::thread os;
  std::thread::id osId;  // kept apart from os, which join() changes
  std::once_flag joined;

  ~State() {
    // The last holder is the thread itself only when nobody kept a link: it cannot join itself.
    if (os.joinable()) {
      if (os.get_id() == std::this_thread::get_id())
        os.detach();
      else
        os.join();
    }
  }
};

// One call handed to the window thread. The window side holds it by itself, so it never
// touches the thread, which may be gone when a withdrawn call comes up.
struct TIdThread::Call {
  std::mutex lock;
  std::condition_variable changed;
  std::function<void()> fn;
  bool started = false;
  bool done = false;
  bool withdrawn = false;
  std::exception_ptr error;
};

TIdThreadLink& TIdThreadLink::operator=(TIdThreadLink&& other) noexcept {
  if (this != &other) {
    RequestStop();
    WaitForEnd();
    FState = std::move(other.FState);
  }
  return *this;
}

TIdThreadLink::~TIdThreadLink() {
  RequestStop();
  WaitForEnd();
}

bool TIdThreadLink::Running() const {
  if (!FState) return false;
  std::lock_guard<std::mutex> lock(FState->lock);
  return FState->thread != nullptr;
}

void TIdThreadLink::RequestStop() {
  if (!FState) return;
  std::lock_guard<std::mutex> lock(FState->lock);
  if (FState->thread) FState->thread->RequestStop();  // alive: it clears this under the lock
}

void TIdThreadLink::WaitForEnd() {
  if (!FState) return;
  State& s = *FState;
  if (s.osId == std::this_thread::get_id()) return;
  std::call_once(s.joined, [&s] {
    if (s.os.joinable()) s.os.join();
  });
}

std::string TIdThreadLink::TerminatingMessage() const {
  if (!FState) return {};
  std::lock_guard<std::mutex> lock(FState->lock);
  return FState->terminatingMessage;
}

TIdThread::TIdThread() : FState(std::make_shared<TIdThreadLink::State>()) {}

TIdThread::~TIdThread() = default;

TIdThreadLink TIdThread::Start() {
  auto state = FState;
  state->thread = this;
  // The State outlives this call through 'state', so the body can finish and free the
  // object before the assignment below completes.
  state->os = std::thread([this] { Body(); });
  state->osId = state->os.get_id();
  return TIdThreadLink(state);
}

void TIdThread::RequestStop() {
  FStop.store(true);
  std::shared_ptr<Call> pending;
  {
    std::lock_guard<std::mutex> lock(FCallLock);
    pending = FPending;
  }
  if (pending) {
    std::lock_guard<std::mutex> lock(pending->lock);
    if (!pending->started) pending->withdrawn = true;
    pending->changed.notify_all();
  }
}

void TIdThread::RunInWindowThread(std::function<void()> call) {
  if (!FDispatcher) throw EIdNoWindowDispatcher();
  auto c = std::make_shared<Call>();
  c->fn = std::move(call);
  {
    std::lock_guard<std::mutex> lock(FCallLock);
    FPending = c;
  }
  struct ClearPending {
    TIdThread* t;
    ~ClearPending() {
      std::lock_guard<std::mutex> lock(t->FCallLock);
      t->FPending.reset();
    }
  } clear{this};
  // A stop that came before FPending was set is seen here; one after it finds FPending.
  if (Stopped()) throw EIdThreadCallWithdrawn();

  FDispatcher->Post([c] {
    {
      std::lock_guard<std::mutex> lock(c->lock);
      if (c->withdrawn) return;
      c->started = true;
    }
    std::exception_ptr error;
    try {
      c->fn();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(c->lock);
    c->error = std::move(error);  // the waiting thread alone holds the error from here on
    c->done = true;
    c->changed.notify_all();
  });

  std::unique_lock<std::mutex> lock(c->lock);
  c->changed.wait(lock, [&] { return c->done || c->withdrawn; });
  if (!c->done) throw EIdThreadCallWithdrawn();
  // Taken out of the call so that the error is freed on this thread, which uses it last.
  std::exception_ptr error = std::move(c->error);
  lock.unlock();
  if (error) std::rethrow_exception(error);
}

void TIdThread::Body() {
  try {
    try {
      BeforeLoop();
      while (!Stopped()) RunOnce();
    } catch (...) {
      AfterLoop();
      throw;
    }
    AfterLoop();
  } catch (const std::exception& e) {
    FTerminatingMessage = e.what();
    try {
      if (OnError) OnError(*this, e);
    } catch (...) {
    }
    FStop.store(true);
  } catch (...) {
    FTerminatingMessage = "Unknown error.";
    FStop.store(true);
  }
  auto state = FState;  // keeps the State alive past the delete below
  {
    std::lock_guard<std::mutex> lock(state->lock);
    state->terminatingMessage = FTerminatingMessage;
    state->thread = nullptr;  // from here on no link touches this object
  }
  if (FreeOnTerminate) delete this;
}

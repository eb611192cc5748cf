// Base of the connection components: keeps the process-wide socket stack alive while any
// component exists, and carries the status notification.
#pragma once

#include <functional>
#include <string>

class TIdComponent;

enum class TIdStatus {
  StatusResolving,
  StatusConnecting,
  StatusConnected,
  StatusDisconnecting,
  StatusDisconnected,
  StatusText,
};

// "Resolving hostname %s." and so on, with the argument put in place of %s.
std::string StatusText(TIdStatus status, const std::string& argument);

// Events are optional: each is tested for being set before it is called.
using TNotifyEvent = std::function<void(TIdComponent* sender)>;
using TIdStatusEvent =
    std::function<void(TIdComponent* sender, TIdStatus status, const std::string& text)>;

class TIdComponent {
 public:
  TIdComponent();  // the first component creates the stack
  virtual ~TIdComponent();  // the last one frees it
  TIdComponent(const TIdComponent&) = delete;
  TIdComponent& operator=(const TIdComponent&) = delete;

  // Runs on the thread that changes the state (the reader thread for a peer close).
  TIdStatusEvent OnStatus;

 protected:
  void NotifyStatus(TIdStatus status, const std::string& argument);
};

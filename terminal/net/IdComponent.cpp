#include "IdComponent.h"

#include "IdStack.h"

namespace {

struct StatusFormat {
  const char* before;
  const char* after;
};

// Each text with its one %s split out: text = before + argument + after.
constexpr StatusFormat kStatusTexts[] = {
    {"Resolving hostname ", "."},   // StatusResolving
    {"Connecting to ", "."},        // StatusConnecting
    {"Connected.", nullptr},        // StatusConnected
    {"Disconnecting from ", "."},   // StatusDisconnecting
    {"Not connected.", nullptr},    // StatusDisconnected
    {"", ""},                       // StatusText
};

}  // namespace

std::string StatusText(TIdStatus status, const std::string& argument) {
  const StatusFormat& f = kStatusTexts[int(status)];
  if (!f.after) return f.before;
  return f.before + argument + f.after;
}

TIdComponent::TIdComponent() { AddStackUser(); }

TIdComponent::~TIdComponent() { RemoveStackUser(); }

void TIdComponent::NotifyStatus(TIdStatus status, const std::string& argument) {
  if (OnStatus) OnStatus(this, status, StatusText(status, argument));
}

#include "IdStack.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "IdException.h"
#include "IdSocketErrors.h"
#include "IdStackPosix.h"

namespace {

// Components are made and freed on the window thread, but tests make them anywhere: a lock
// keeps the count and the instance consistent.
std::mutex gStackLock;
std::unique_ptr<TIdStack> gStack;
std::atomic<TIdStack*> gStackPtr{nullptr};
int gStackUsers = 0;
TIdStackFactory gFactory;

// A part converts when it is all decimal digits (at least one) and fits an int.
bool ToNumber(const std::string& s, int& value) {
  if (s.empty() || s.size() > 9) return false;
  value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

}  // namespace

int TIdStack::NewSocket(int type, int protocol) {
  int s = SockCreate(2, type, protocol);
  if (s == -1) throw EIdInvalidSocket();
  return s;
}

bool TIdStack::CheckSocketResult(int result, std::initializer_list<int> tolerated) {
  if (result != -1) return false;
  int code = LastSocketError();
  for (int t : tolerated)
    if (t == code) return true;
  ThrowSocketError(code);
}

void TIdStack::ThrowSocketError(int code) { throw EIdSocketError(code, SocketErrorText(code)); }

std::string TIdStack::LookupHost(const std::string& name) {
  std::string upper;
  for (char c : name) upper += (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
  if (upper == "LOCALHOST") return "127.0.0.1";
  if (IsDottedQuad(name)) return name;
  return HostByName(name);
}

std::string TIdStack::SplitFirst(std::string& text, char delimiter) {
  auto at = text.find(delimiter);
  std::string head;
  if (at == std::string::npos) {
    head.swap(text);
  } else {
    head = text.substr(0, at);
    text.erase(0, at + 1);
  }
  return head;
}

bool TIdStack::IsDottedQuad(const std::string& text) {
  std::string rest = text;
  std::string parts[4];
  for (int i = 0; i < 3; ++i) parts[i] = SplitFirst(rest, '.');
  parts[3] = rest;
  for (const auto& p : parts) {
    int v;
    if (!ToNumber(p, v) || v > 255) return false;
  }
  return true;
}

std::array<std::uint8_t, 4> TIdStack::TextToAddress(const std::string& text) {
  std::string rest = text;
  std::array<std::uint8_t, 4> bytes{};
  for (auto& b : bytes) {
    int v;
    if (!ToNumber(SplitFirst(rest, '.'), v))
      throw EIdException("'" + text + "' is not a valid address.");
    b = std::uint8_t(v & 0xFF);
  }
  return bytes;
}

std::string TIdStack::AddressToText(const std::array<std::uint8_t, 4>& bytes) {
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
         std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

std::uint32_t TIdStack::ParseDottedQuad(const std::string& text) {
  auto b = TextToAddress(text);
  std::uint32_t a;
  static_assert(sizeof a == 4);
  std::memcpy(&a, b.data(), 4);
  return a;
}

TIdStack* StackInstance() { return gStackPtr.load(); }

int StackUsers() {
  std::lock_guard<std::mutex> lock(gStackLock);
  return gStackUsers;
}

TIdStack& GStack() {
  TIdStack* s = gStackPtr.load();
  if (!s) throw EIdStackError("No socket stack: no network component exists.");
  return *s;
}

void SetStackFactory(TIdStackFactory factory) {
  std::lock_guard<std::mutex> lock(gStackLock);
  gFactory = std::move(factory);
}

void AddStackUser() {
  std::lock_guard<std::mutex> lock(gStackLock);
  if (!gStack) {
    gStack = gFactory ? gFactory() : std::make_unique<TIdStackPosix>();
    gStackPtr.store(gStack.get());
  }
  ++gStackUsers;
}

void RemoveStackUser() {
  std::lock_guard<std::mutex> lock(gStackLock);
  if (--gStackUsers == 0) {
    gStackPtr.store(nullptr);
    gStack.reset();
  }
}

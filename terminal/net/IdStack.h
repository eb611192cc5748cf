// The socket stack: one process-wide object that wraps every platform socket call, looks up
// host names and turns failed calls into EIdSocketError with the Windows Sockets texts.
// Addresses are dotted-decimal text and ports host-order integers above this layer.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// Timeout value meaning "wait without limit" (timeouts are in milliseconds).
constexpr int WaitForever = -2;

// Socket set limit of one SockSelect list.
constexpr std::size_t kSelectSetSize = 64;

class TIdStack {
 public:
  TIdStack() = default;
  virtual ~TIdStack() = default;
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;

  // Platform calls. Those returning int give the call's result; -1 means failure and
  // LastSocketError (of the calling thread) tells why.
  virtual int SockCreate(int family, int type, int protocol) = 0;
  virtual int SockBind(int socket, int family, const std::string& address, int port) = 0;
  // timeout (ms or WaitForever) limits the whole connect; when it runs out the connect fails
  // with WSAETIMEDOUT.
  virtual int SockConnect(int socket, int family, const std::string& address, int port,
                          int timeout = WaitForever) = 0;
  virtual int SockRecv(int socket, void* buffer, int length, int flags) = 0;
  virtual int SockSend(int socket, const void* buffer, int length, int flags) = 0;
  virtual int SockSetOption(int socket, int level, int name, const void* value, int length) = 0;
  virtual int SockShutdown(int socket, int how) = 0;
  virtual int SockClose(int socket) = 0;
  // Each given list is rewritten to the ready sockets; absent lists count as empty. More than
  // kSelectSetSize sockets in one list raise EIdStackSetSizeExceeded. Returns the number of
  // ready sockets, 0 on timeout, -1 on error.
  virtual int SockSelect(std::vector<int>* readList, std::vector<int>* writeList,
                         std::vector<int>* errorList, int timeout) = 0;
  // The first IPv4 address of a name; a failed lookup raises EIdSocketError.
  virtual std::string HostByName(const std::string& name) = 0;
  virtual int LastSocketError() = 0;
  // Endpoint queries; a failure raises EIdSocketError.
  virtual void LocalEndpoint(int socket, std::string& ip, int& port) = 0;
  virtual void RemoteEndpoint(int socket, std::string& ip, int& port) = 0;

  // Throws EIdInvalidSocket when no socket can be made.
  int NewSocket(int type, int protocol);
  // False when result is not -1. Otherwise true when the last error is one of tolerated,
  // else raises it.
  bool CheckSocketResult(int result, std::initializer_list<int> tolerated = {});
  [[noreturn]] void ThrowSocketError(int code);
  // "localhost" in any case and dotted addresses need no lookup.
  std::string LookupHost(const std::string& name);

  static bool IsDottedQuad(const std::string& text);
  // The four numbers of a dotted quad in text order; the caller has checked the text.
  static std::array<std::uint8_t, 4> TextToAddress(const std::string& text);
  static std::string AddressToText(const std::array<std::uint8_t, 4>& bytes);
  // The 32-bit address whose bytes (in memory order) are the four numbers: network order.
  static std::uint32_t ParseDottedQuad(const std::string& text);
  // Returns the text before the first delimiter and leaves what follows it in text; without a
  // delimiter returns all of text and empties it.
  static std::string SplitFirst(std::string& text, char delimiter);
};

// The process-wide stack: made when the first TIdComponent is created, freed with the last.
TIdStack* StackInstance();
int StackUsers();
// The stack of a live component; raises EIdStackError when no component exists.
TIdStack& GStack();

// Chooses the stack class made for the next StackInstance (tests install a faulty one).
// An empty factory restores the platform stack.
using TIdStackFactory = std::function<std::unique_ptr<TIdStack>()>;
void SetStackFactory(TIdStackFactory factory);

// Used by TIdComponent only.
void AddStackUser();
void RemoveStackUser();

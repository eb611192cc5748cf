#include "IdTCPClient.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "IdException.h"
#include "IdStack.h"

void TIdTCPClient::OpenConnection() {
  if (Binding().HasSocket()) throw EIdAlreadyConnected();
  ResetForConnect();
  Binding().OpenSocket(SOCK_STREAM, 0);
  try {
    Binding().SetIP(BoundIP);
    Binding().BindLocal();
    if (!TIdStack::IsDottedQuad(Host)) NotifyStatus(TIdStatus::StatusResolving, Host);
    Binding().SetRemote(GStack().LookupHost(Host), Port);
    if (!UseNagle) Binding().SetOption(IPPROTO_TCP, TCP_NODELAY, 1);
    NotifyStatus(TIdStatus::StatusConnecting, Binding().RemoteIP());
    GStack().CheckSocketResult(Binding().ConnectRemote(AF_INET, ConnectTimeout));
  } catch (...) {
    try {
      CloseConnection();
    } catch (...) {
    }
    throw;
  }
  NotifyStatus(TIdStatus::StatusConnected, Binding().RemoteIP());
  NotifyConnected();
}

void TIdTCPClient::AdoptConnection(TIdTCPClient& connected) {
  if (Binding().HasSocket()) throw EIdAlreadyConnected();
  if (!connected.Binding().HasSocket()) throw EIdConnClosedGracefully();
  ResetForConnect();
  if (!Binding().TakeSocket(connected.Binding())) throw EIdConnClosedGracefully();
  Host = connected.Host;
  Port = connected.Port;
  NotifyStatus(TIdStatus::StatusConnected, Binding().RemoteIP());
  NotifyConnected();
}

void TIdTCPClient::NotifyConnected() {
  if (OnConnected) OnConnected(this);
}

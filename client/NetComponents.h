#pragma once
// The network layer's components as description kinds of the window: "UdpServer", "TcpClient"
// and "ThreadComponent". Each is a ui::Component (found by name, owned by the window) and the
// net object itself, so window code uses them directly (tcp->Connected(), udp->Active(), ...).

#include <QByteArray>
#include <QJsonObject>
#include <QPointer>
#include <QString>
#include <string>

#include "net/TcpClient.h"
#include "net/ThreadComponent.h"
#include "net/UdpServer.h"
#include "ui/Component.h"

// UDP server. Element keys: "DefaultPort", "Active" (started by Loaded), "OnUDPRead" bound to
// a handler void h(QObject* sender, const QByteArray& data, const QString& peerIp, int peerPort).
class UdpServerComponent : public ui::Component, public net::UdpServer {
  Q_OBJECT
 public:
  UdpServerComponent(QObject* owner, const QJsonObject& element, ui::Component* root);
  ~UdpServerComponent() override;
  void Loaded() override;

 private:
  bool activeAtLoad_ = false;
  QPointer<ui::Component> root_;
};

// A seam for tests, not a setting: the UDP servers of root's description listen on `ip` at
// `port` (0: a free port the system picks) instead of every address at their default port, so
// a test neither collides with a client running on the machine nor hears real boards. Call it
// before root reads its description.
void SetUdpBinding(ui::Component& root, const std::string& ip, int port);

// TCP client. Element keys: "Port", "ConnectTimeout", "ReadTimeout" (ms), "IPVersion" ("IPv4").
class TcpClientComponent : public ui::Component, public net::TcpClient {
  Q_OBJECT
 public:
  TcpClientComponent(QObject* owner, const QJsonObject& element);
};

// Thread component. Element keys: "Active" (started by Loaded), "OnRun" bound to
// void h(QObject* sender); the thread calls it again each time it returns, until stopped.
class ThreadRunComponent : public ui::Component, public net::ThreadComponent {
  Q_OBJECT
 public:
  ThreadRunComponent(QObject* owner, const QJsonObject& element, ui::Component* root);
  ~ThreadRunComponent() override;
  void Loaded() override;

 private:
  bool activeAtLoad_ = false;
};

// Registers the three kinds with the UI layer's description reader (once is enough).
void RegisterNetKinds();

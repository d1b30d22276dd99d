#include "NetComponents.h"

#include <QJsonValue>
#include <QVariant>
#include <mutex>

#include "ui/Binding.h"
#include "ui/Description.h"
#include "ui/Types.h"

namespace {

// Where SetUdpBinding leaves the binding on the description's root.
constexpr char kBindingIp[] = "vmUdpBindingIp";
constexpr char kBindingPort[] = "vmUdpBindingPort";

// Keys every kind accepts besides its own.
bool Common(const QString& key) {
  return key == u"kind" || key == u"name" || key == u"comment";
}

[[noreturn]] void Unknown(const QJsonObject& element, const QString& key) {
  throw ui::Error(QStringLiteral("%1: %2 has no property %3")
                      .arg(element[QStringLiteral("name")].toString(),
                           element[QStringLiteral("kind")].toString(), key));
}

int IntValue(const QJsonObject& element, const QString& key) {
  const QJsonValue v = element[key];
  if (!v.isDouble())
    throw ui::Error(QStringLiteral("%1: %2 must be a number")
                        .arg(element[QStringLiteral("name")].toString(), key));
  return v.toInt();
}

bool BoolValue(const QJsonObject& element, const QString& key) {
  const QJsonValue v = element[key];
  if (!v.isBool())
    throw ui::Error(QStringLiteral("%1: %2 must be true or false")
                        .arg(element[QStringLiteral("name")].toString(), key));
  return v.toBool();
}

}  // namespace

// ---------------------------------------------------------------- UdpServerComponent

UdpServerComponent::UdpServerComponent(QObject* owner, const QJsonObject& element,
                                       ui::Component* root)
    : ui::Component(owner), root_(root) {
  for (auto it = element.begin(); it != element.end(); ++it) {
    const QString key = it.key();
    if (Common(key)) continue;
    if (key == u"DefaultPort") {
      SetDefaultPort(IntValue(element, key));
    } else if (key == u"Active") {
      activeAtLoad_ = BoolValue(element, key);
    } else if (key == u"OnUDPRead") {
      auto handler = ui::BindHandler<QObject*, const QByteArray&, const QString&, int>(
          root, it.value().toString());
      SetOnRead([this, handler](std::span<const std::uint8_t> data, const std::string& peerIp,
                                int peerPort) {
        const QByteArray bytes(reinterpret_cast<const char*>(data.data()),
                               static_cast<qsizetype>(data.size()));
        handler(this, bytes, QString::fromStdString(peerIp), peerPort);
      });
    } else {
      Unknown(element, key);
    }
  }
}

UdpServerComponent::~UdpServerComponent() {
  SetActive(false);
}

void UdpServerComponent::Loaded() {
  if (root_) {
    const QVariant ip = root_->property(kBindingIp);
    if (ip.isValid())
      SetBinding(ip.toString().toStdString(), root_->property(kBindingPort).toInt());
  }
  if (activeAtLoad_) SetActive(true);
}

void SetUdpBinding(ui::Component& root, const std::string& ip, int port) {
  root.setProperty(kBindingIp, QString::fromStdString(ip));
  root.setProperty(kBindingPort, port);
}

// ---------------------------------------------------------------- TcpClientComponent

TcpClientComponent::TcpClientComponent(QObject* owner, const QJsonObject& element)
    : ui::Component(owner) {
  for (auto it = element.begin(); it != element.end(); ++it) {
    const QString key = it.key();
    if (Common(key)) continue;
    if (key == u"Port") {
      SetPort(IntValue(element, key));
    } else if (key == u"ConnectTimeout") {
      SetConnectTimeout(IntValue(element, key));
    } else if (key == u"ReadTimeout") {
      SetReadTimeout(IntValue(element, key));
    } else if (key == u"IPVersion") {
      // The network layer speaks IPv4 only.
      if (it.value().toString() != u"IPv4")
        throw ui::Error(QStringLiteral("%1: IPVersion must be IPv4")
                            .arg(element[QStringLiteral("name")].toString()));
    } else {
      Unknown(element, key);
    }
  }
}

// ---------------------------------------------------------------- ThreadRunComponent

ThreadRunComponent::ThreadRunComponent(QObject* owner, const QJsonObject& element,
                                       ui::Component* root)
    : ui::Component(owner) {
  for (auto it = element.begin(); it != element.end(); ++it) {
    const QString key = it.key();
    if (Common(key)) continue;
    if (key == u"Active") {
      activeAtLoad_ = BoolValue(element, key);
    } else if (key == u"OnRun") {
      auto handler = ui::BindHandler<QObject*>(root, it.value().toString());
      SetOnRun([this, handler] { handler(this); });
    } else if (key == u"Loop" || key == u"Priority" || key == u"StopMode") {
      // Loop off, normal priority and stop by terminate are how the net thread always runs.
      const QString v = it.value().toVariant().toString();
      const bool ok = (key == u"Loop" && it.value().isBool() && !it.value().toBool()) ||
                      (key == u"Priority" && v == u"Normal") ||
                      (key == u"StopMode" && v == u"Terminate");
      if (!ok)
        throw ui::Error(QStringLiteral("%1: unsupported %2")
                            .arg(element[QStringLiteral("name")].toString(), key));
    } else {
      Unknown(element, key);
    }
  }
}

ThreadRunComponent::~ThreadRunComponent() {
  Stop();
  WaitFor();
}

void ThreadRunComponent::Loaded() {
  if (activeAtLoad_) Start();
}

// ---------------------------------------------------------------- registration

void RegisterNetKinds() {
  static std::once_flag once;
  std::call_once(once, [] {
    ui::RegisterKind(
        "UdpServer",
        [](QObject* owner, const QJsonObject& element, ui::Component* root) -> ui::Component* {
          return new UdpServerComponent(owner, element, root);
        });
    ui::RegisterKind(
        "TcpClient",
        [](QObject* owner, const QJsonObject& element, ui::Component*) -> ui::Component* {
          return new TcpClientComponent(owner, element);
        });
    ui::RegisterKind(
        "ThreadComponent",
        [](QObject* owner, const QJsonObject& element, ui::Component* root) -> ui::Component* {
          return new ThreadRunComponent(owner, element, root);
        });
  });
}

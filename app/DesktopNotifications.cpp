#include "app/DesktopNotifications.h"

#include <QAtomicInt>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace quillet {

namespace {

constexpr int kCallTimeoutMs = 2000;

// Qt keeps bus connections by name for the whole process; each sender has its own, so a sender
// made after the environment changed (a test's private bus) talks to the bus named then.
QString ConnectionName() {
  static QAtomicInt counter;
  return QStringLiteral("quillet-notifications-%1").arg(counter.fetchAndAddRelaxed(1));
}

QString SessionBusAddress() {
  QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
  if (address.isEmpty()) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")))
      address = QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus");
  }
  return address;
}

class QtDBusNoticeSender : public NoticeSender {
 public:
  QtDBusNoticeSender() : name_(ConnectionName()), connection_(QString()) {
    const QString address = SessionBusAddress();
    if (address.isEmpty()) {
      openError_ = QStringLiteral("no session bus");
      return;
    }
    connection_ = QDBusConnection::connectToBus(address, name_);
    if (!connection_.isConnected()) openError_ = connection_.lastError().message();
  }
  ~QtDBusNoticeSender() override {
    QDBusConnection::disconnectFromBus(name_);
  }
  QtDBusNoticeSender(const QtDBusNoticeSender&) = delete;
  QtDBusNoticeSender& operator=(const QtDBusNoticeSender&) = delete;

  void Send(const DesktopNotice& notice, Failed failed) override {
    if (!openError_.isEmpty()) return failed(openError_.toStdString());
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Each notice replaces the one before: a loop of writes keeps one bubble up to date.
    call << QStringLiteral("Quillet") << shown_ << QString() << QString::fromStdString(notice.summary)
         << QString::fromStdString(notice.body) << QStringList() << QVariantMap() << qint32(-1);
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(call, kCallTimeoutMs), &replies_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &replies_,
                     [this, failed = std::move(failed)](QDBusPendingCallWatcher* w) {
                       const QDBusPendingReply<uint> reply = *w;
                       if (reply.isError())
                         failed(reply.error().message().toStdString());
                       else
                         shown_ = reply.value();
                       w->deleteLater();
                     });
  }

 private:
  const QString name_;
  QDBusConnection connection_;
  QString openError_;
  uint shown_ = 0;   // the service's id of the last notice
  QObject replies_;  // owns the calls waiting for their answers: none outlives the sender
};

}  // namespace

std::unique_ptr<NoticeSender> SessionBusNoticeSender() { return std::make_unique<QtDBusNoticeSender>(); }

}  // namespace quillet

#include "nodesim/linux/dbus_ctl.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <cstdio>

#include "nodesim/linux/dbus_names.h"

namespace tarnwick::nodesim {

namespace {

constexpr int kControlTimeoutMs = 5000;

void complain(const QString& text) { std::fprintf(stderr, "tarnwick-nodesim: %s\n", text.toUtf8().constData()); }

QDBusMessage controlCall(const char* method, const QVariantList& args) {
    QDBusMessage msg = QDBusMessage::createMethodCall(QLatin1String(kBusName), QLatin1String(kControlPath),
                                                      QLatin1String(kControlInterface), QLatin1String(method));
    msg.setArguments(args);
    return msg;
}

}  // namespace

int runControl(const CommandLine& line) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        complain(QStringLiteral("cannot reach the session bus (%1)").arg(bus.lastError().message()));
        return 1;
    }

    // Ask the bus first, so that "nothing runs" reads as such rather than
    // as a bus error.
    QDBusMessage ownerQuery =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ownerQuery << QLatin1String(kBusName);
    const QDBusMessage owned = bus.call(ownerQuery, QDBus::Block, kControlTimeoutMs);
    if (owned.type() != QDBusMessage::ReplyMessage || owned.arguments().value(0).toBool() == false) {
        complain(
            QStringLiteral("no stand-in node runs on the session bus (%1 has no owner)").arg(QLatin1String(kBusName)));
        return 1;
    }

    QDBusMessage msg;
    switch (line.ctl) {
        case CtlCommand::Dtmf:
            msg = controlCall("Dtmf", {QString::fromStdString(line.ctlText)});
            break;
        case CtlCommand::Rx:
            msg = controlCall("SetRx", {line.ctlSwitch});
            break;
        case CtlCommand::BusyA:
            msg = controlCall("SetBusyA", {line.ctlSwitch});
            break;
        case CtlCommand::BusyB:
            msg = controlCall("SetBusyB", {line.ctlSwitch});
            break;
        case CtlCommand::Fail:
            msg = controlCall("Fail", {QLatin1String(operationName(line.ctlOperation))});
            break;
        case CtlCommand::Stall:
            msg = controlCall("Stall", {static_cast<int>(line.ctlMs)});
            break;
        case CtlCommand::Close:
            msg = controlCall("Close", {});
            break;
        case CtlCommand::Vanish:
            msg = controlCall("Vanish", {});
            break;
        case CtlCommand::State:
            msg = controlCall("State", {});
            break;
    }

    const QDBusMessage reply = bus.call(msg, QDBus::Block, kControlTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        complain(QStringLiteral("the node on the bus refused the command: %1: %2")
                     .arg(reply.errorName(), reply.errorMessage()));
        return 1;
    }
    if (line.ctl == CtlCommand::State) {
        std::printf("%s\n", reply.arguments().value(0).toString().toUtf8().constData());
    }
    return 0;
}

}  // namespace tarnwick::nodesim

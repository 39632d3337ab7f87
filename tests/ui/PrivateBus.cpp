#include "PrivateBus.h"

#include <QFile>
#include <QProcess>

#include <csignal>

PrivateBus::PrivateBus() {
    const QString config = dir_.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        problem_ = QStringLiteral("cannot write ") + config;
        return;
    }
    file.write(
        QStringLiteral(
            R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
            .arg(dir_.path())
            .toUtf8());
    file.close();

    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--config-file=") + config, QStringLiteral("--fork"),
                  QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1")});
    if (!daemon.waitForFinished(10000) || daemon.exitCode() != 0) {
        problem_ = QStringLiteral("dbus-daemon: ") + daemon.errorString() + QLatin1Char(' ') +
                   QString::fromLocal8Bit(daemon.readAllStandardError());
        return;
    }
    const QStringList lines =
        QString::fromLocal8Bit(daemon.readAllStandardOutput()).split(QLatin1Char('\n'));
    if (lines.size() < 2) {
        problem_ = QStringLiteral("dbus-daemon printed no address and pid");
        return;
    }
    address_ = lines.at(0).trimmed();
    pid_ = lines.at(1).trimmed().toInt();
}

PrivateBus::~PrivateBus() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
    }
}

#pragma once
// How long a program took to show its first frame and what it holds once idle, measured the same
// way for the client and for the programs it is compared with: times from the process's start
// (its start time in /proc), resident memory from /proc/self/status.

#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <cstdio>
#include <ctime>

namespace startup {

// Milliseconds since the process started.
inline double MillisecondsSinceProcessStart() {
  QFile stat(QStringLiteral("/proc/self/stat"));
  if (!stat.open(QIODevice::ReadOnly)) return -1;
  const QString text = QString::fromLatin1(stat.readAll());
  const QStringList fields = text.mid(text.lastIndexOf(u')') + 2).split(u' ');
  // Field 22 (starttime, clock ticks after boot) is index 19 after the command name.
  const double startTicks = fields.value(19).toDouble();
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const double nowMs =
      static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
  return nowMs - startTicks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A "Vm..." or "Rss..." line of /proc/self/status in KiB, -1 when missing.
inline long StatusKiB(const char* key) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  const QByteArray prefix = QByteArray(key) + ':';
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(prefix))
      return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
  return -1;
}

// Paints the watched widget's first frame itself, so the time it records is when that frame
// has been painted, not when painting began.
class FirstFrame : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Paint || atMs >= 0) return QObject::eventFilter(watched, event);
    watched->removeEventFilter(this);
    watched->event(event);
    atMs = MillisecondsSinceProcessStart();
    return true;
  }
  double atMs = -1;
};

// Runs the event loop for `ms`, as an idle program would.
inline void Pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
}

// Shows what FirstFrame and the memory counters found, in the lines the start-up benchmark reads.
inline void PrintFirstFrameAndIdleMemory(const FirstFrame& frame) {
  std::printf("first painted frame: %.1f ms after process start\n", frame.atMs);
  std::printf("idle window resident memory: %.1f MiB\n",
              static_cast<double>(StatusKiB("VmRSS")) / 1024.0);
  std::printf("idle resident, anonymous: %.1f MiB, files: %.1f MiB, shared: %.1f MiB\n",
              static_cast<double>(StatusKiB("RssAnon")) / 1024.0,
              static_cast<double>(StatusKiB("RssFile")) / 1024.0,
              static_cast<double>(StatusKiB("RssShmem")) / 1024.0);
}

}  // namespace startup

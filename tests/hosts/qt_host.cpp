// A Qt 5 host: a widget, a 50 ms QTimer on its main loop, the dialog shown
// from a worker thread over the host's window; the loop is asked to quit
// from that thread when the module has ended.
#include <QApplication>
#include <QMetaObject>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "host_scenario.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string library = argv[1];
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QWidget window;
  window.setWindowTitle("Qt host");
  window.resize(200, 100);
  window.show();
  const auto xid = static_cast<std::uintptr_t>(window.winId());
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [] { ++testhost::ticks; });
  timer.start(50);
  testhost::Outcome outcome;
  std::thread worker([&] {
    outcome = testhost::Scenario(library, reinterpret_cast<void*>(xid));
    QMetaObject::invokeMethod(&app, "quit", Qt::QueuedConnection);
  });
  const int status = app.exec();
  worker.join();
  std::printf("%s\n", outcome.report.c_str());
  return status == 0 && outcome.ok ? 0 : 1;
}

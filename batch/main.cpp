// zelmora-batch: seeded runs and sweeps of the model without the window, and `merge` of a sweep's
// shards. Exit status 0 when the sweep is complete, 1 on an I/O error, 2 on bad input, 128 + the
// signal when interrupted.
#include <QApplication>
#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <csignal>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "sweep/Merge.h"
#include "batch/Options.h"
#include "batch/RenderPictures.h"
#include "sweep/Runner.h"

namespace {

std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void OnStopSignal(int signal) { stopSignal.store(signal); }

// Qt's notes about its environment (no runtime folder, no session bus) are not the user's concern
// here; its critical messages still go to stderr.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::cerr << message.toStdString() << "\n";
}

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// The program's work; every failure it foresees is an exception that main turns into a status.
int Run(int argc, char** argv) {
  using namespace zelmora::batch;
  if (argc >= 2 && std::string(argv[1]) == "merge") {
    MergeShards(std::vector<std::string>(argv + 2, argv + argc));
    return 0;
  }
  std::string help;
  const auto options = ParseCommandLine(argc, argv, help);
  if (!options) {
    std::cout << help;
    return 0;
  }
  const SweepPlan plan = PrepareSweep(*options);
  InstallStopHandlers();

  // The charts are drawn by a chart control, a widget never shown: the program needs a
  // QApplication, on the platform that needs no display whatever the environment says.
  std::unique_ptr<QApplication> application;
  RenderPictures pictures;
  const Options& o = plan.options;
  const bool drawing = o.charts || !o.snapshotAt.empty() || o.snapshotEvery > 0 || o.video != VideoFormat::None;
  if (drawing) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietQtMessages);
    static int qtArgc = 1;
    application = std::make_unique<QApplication>(qtArgc, argv);
  }
  return ExecuteSweep(plan, drawing ? &pictures : nullptr, std::cerr, stopSignal);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zelmora::batch;
  // Nothing ends the program by an escaped exception.
  try {
    return Run(argc, argv);
  } catch (const UsageError& e) {
    std::cerr << "zelmora-batch: " << e.what() << "\n";
    return 2;
  } catch (const IoError& e) {
    std::cerr << "zelmora-batch: " << e.what() << "\n";
    return ExitIoError;
  } catch (const std::bad_alloc&) {
    std::cerr << "zelmora-batch: out of memory\n";
    return ExitIoError;
  } catch (const std::exception& e) {
    std::cerr << "zelmora-batch: " << e.what() << "\n";
    return ExitIoError;
  } catch (...) {
    std::cerr << "zelmora-batch: an unknown error\n";
    return ExitIoError;
  }
}

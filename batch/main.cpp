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

#include "batch/Options.h"
#include "render/RenderPictures.h"
#include "batch/Study.h"
#include "sweep/Merge.h"
#include "sweep/Printable.h"
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
int Run(int argc, char** argv, std::string& designFile) {
  using namespace zelmora;
  if (argc >= 2 && std::string(argv[1]) == "merge") {
    sweep::MergeShards(std::vector<std::string>(argv + 2, argv + argc), std::cerr);
    return 0;
  }
  if (argc >= 2 && (std::string(argv[1]) == "summary" || std::string(argv[1]) == "plot")) {
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    try {
      if (command == "summary") return batch::SummaryCommand(args, std::vector<std::string>(argv, argv + argc));
      // The plot is drawn by a chart control, which needs a QApplication.
      qputenv("QT_QPA_PLATFORM", "offscreen");
      qInstallMessageHandler(QuietQtMessages);
      static int qtArgc = 1;
      QApplication application(qtArgc, argv);
      return batch::PlotCommand(args);
    } catch (const sweep::RequestError& e) {
      // The file read is the command's own argument: named by the command.
      if (e.name != "file") throw;
      throw batch::UsageError(command + ": " + e.reason + (e.value.empty() ? "" : "; got '" + e.value + "'"));
    }
  }
  std::string text;
  const auto request = batch::ParseCommandLine(argc, argv, text);
  if (!request) {
    std::cout << text;
    return 0;
  }
  if (request->design) designFile = request->design->file;
  sweep::SweepPlan plan = sweep::PrepareSweep(*request);
  plan.resumeHint = [](const sweep::SweepPlan& p, std::int32_t jobs) {
    return batch::ShellCommand(batch::ResumeArguments(p.request, p.masterSeed, jobs));
  };
  plan.fieldName = [](const std::string& field) { return "--" + field; };
  InstallStopHandlers();

  // The charts are drawn by a chart control, a widget never shown: the program needs a
  // QApplication, on the platform that needs no display whatever the environment says.
  std::unique_ptr<QApplication> application;
  RenderPictures pictures;
  const bool drawing = plan.request.pictures.Any();
  if (drawing) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietQtMessages);
    static int qtArgc = 1;
    application = std::make_unique<QApplication>(qtArgc, argv);
  }
  return sweep::ExecuteSweep(plan, drawing ? &pictures : nullptr, std::cerr, stopSignal);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zelmora;
  // A file size limit (ulimit -f) makes a write fail with a message instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  std::string designFile;
  // Nothing ends the program by an escaped exception; a refusal may quote input, shown escaped.
  const auto say = [](const std::string& message) { std::cerr << "zelmora-batch: " << sweep::Printable(message) << "\n"; };
  try {
    return Run(argc, argv, designFile);
  } catch (const batch::UsageError& e) {
    say(e.what());
    return 2;
  } catch (const sweep::RequestError& e) {
    say(batch::Worded(e, designFile));
    return 2;
  } catch (const sweep::IoError& e) {
    say(e.what());
    return sweep::ExitIoError;
  } catch (const std::bad_alloc&) {
    say("out of memory");
    return sweep::ExitIoError;
  } catch (const std::exception& e) {
    say(e.what());
    return sweep::ExitIoError;
  } catch (...) {
    std::cerr << "zelmora-batch: an unknown error\n";
    return sweep::ExitIoError;
  }
}

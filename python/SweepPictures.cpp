#include "python/SweepPictures.h"

#include <QApplication>
#include <QString>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <iostream>
#include <mutex>
#include <thread>

#include "render/RenderPictures.h"

namespace zelmora::python {
namespace {

// Qt's warnings (among them that the QApplication is not on the main thread, which here is on
// purpose) are not the user's business; its errors are.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::cerr << message.toStdString() << "\n";
}

// The thread that owns the module's QApplication, started at the first sweep that draws and kept
// until the process ends: a process makes one QApplication, and the thread that calls
// zelmora.sweep need not be the one that called it before. Runs one task at a time.
class QtThread {
 public:
  // Never destroyed: its thread runs until the process ends.
  static QtThread& Get() {
    static QtThread* const thread = new QtThread;
    return *thread;
  }

  // Runs `task` on the thread and waits for it; its exception is thrown here.
  void Run(const std::function<void()>& task) {
    std::exception_ptr error;
    bool done = false;
    std::unique_lock lock(mutex_);
    tasks_.push_back({&task, &error, &done});
    changed_.notify_all();
    changed_.wait(lock, [&] { return done; });
    if (error) std::rethrow_exception(error);
  }

 private:
  struct Task {
    const std::function<void()>* work;
    std::exception_ptr* error;
    bool* done;
  };

  QtThread() { std::thread([this] { Loop(); }).detach(); }

  void Loop() {
    static char name[] = "zelmora", option[] = "-platform", platform[] = "offscreen";
    static char* argv[] = {name, option, platform, nullptr};
    static int argc = 3;
    qInstallMessageHandler(QuietQtMessages);
    QApplication application(argc, argv);
    std::unique_lock lock(mutex_);
    while (true) {
      changed_.wait(lock, [&] { return !tasks_.empty(); });
      const Task task = tasks_.front();
      tasks_.pop_front();
      lock.unlock();
      try {
        (*task.work)();
      } catch (...) {
        *task.error = std::current_exception();
      }
      lock.lock();
      *task.done = true;
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Task> tasks_;
};

class SweepPictures : public sweep::PictureMaker {
 public:
  SweepPictures() {
    QtThread::Get().Run([this] { pictures_ = std::make_unique<RenderPictures>(); });
  }
  ~SweepPictures() override {
    QtThread::Get().Run([this] { pictures_.reset(); });
  }
  SweepPictures(const SweepPictures&) = delete;
  SweepPictures& operator=(const SweepPictures&) = delete;

  void SaveSnapshot(const World& world, const std::string& path) override { pictures_->SaveSnapshot(world, path); }
  bool DrawFrame(const World& world, sweep::Frame& frame) override { return pictures_->DrawFrame(world, frame); }
  void SaveCharts(const sweep::RunCharts& charts, const std::string& marketPath,
                  const std::string& segregationPath) override {
    QtThread::Get().Run([&] { pictures_->SaveCharts(charts, marketPath, segregationPath); });
  }

 private:
  std::unique_ptr<RenderPictures> pictures_;  // made, used for charts and gone on the Qt thread
};

}  // namespace

std::unique_ptr<sweep::PictureMaker> MakeSweepPictures() { return std::make_unique<SweepPictures>(); }

}  // namespace zelmora::python

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <stdexcept>

#include "tests/ui/ErrorBoxes.h"
#include "ui/Application.h"

namespace zelmora {
namespace {

QString Refused(const QString& typed) { return "'" + typed + "' is not a valid integer value."; }

QLabel* MessageLabel(QMessageBox& box) { return box.findChild<QLabel*>("qt_msgbox_label"); }

TEST(ErrorBox, BoxTextShortensOnlyWhatCannotBeWrapped) {
  const QString digits150 = QString("1234567890").repeated(15);
  const QString words = QString("12 ").repeated(400);
  const struct {
    QString message;
    bool kept;
  } cases[] = {
      {Refused("abc"), true},
      {Refused("<b>7</b>"), true},
      {Refused(QString("9").repeated(kMaxRun - 2)), true},  // quotes included: just fits
      {Refused(QString("9").repeated(kMaxRun - 1)), false},
      {Refused(digits150), false},
      {Refused(words), false},
  };
  for (const auto& c : cases) {
    const QString text = BoxText(c.message);
    SCOPED_TRACE(c.message.left(60).toStdString());
    EXPECT_EQ(text == c.message, c.kept);
    EXPECT_LE(text.size(), kMaxLength);
    for (const QString& run : text.split(' ')) EXPECT_LE(run.size(), kMaxRun);
    if (!c.kept) {
      // Both ends of the message stay, the middle gives way to an ellipsis.
      EXPECT_TRUE(text.contains(QChar(0x2026)));
      EXPECT_EQ(text.left(8), c.message.left(8));
      EXPECT_EQ(text.right(8), c.message.right(8));
    }
  }
}

// Makes a folder the working one while it lives.
struct WorkingFolder {
  QString before = QDir::currentPath();
  explicit WorkingFolder(const QString& path) { QDir::setCurrent(path); }
  ~WorkingFolder() { QDir::setCurrent(before); }
};

// What the user typed is shown as the characters typed: no markup, no image loaded. The picture
// is named relative to the working folder, so the tag is the same wherever the folder lies.
TEST(ErrorBox, ShowsTheMessageAsPlainText) {
  QTemporaryDir dir(ZELMORA_TEST_SCRATCH "/errorbox-XXXXXX");
  ASSERT_TRUE(dir.isValid());
  QImage big(300, 300, QImage::Format_RGB32);
  big.fill(Qt::red);
  ASSERT_TRUE(big.save(dir.filePath("big.png")));
  const WorkingFolder working(dir.path());
  const QString imageTag = "<img src=\"big.png\">";
  // The same tag as markup would load the picture: the check below can fail.
  QLabel rich;
  rich.setTextFormat(Qt::RichText);
  rich.setText(imageTag);
  ASSERT_GE(rich.sizeHint().height(), 300);

  for (const QString& typed : {QString("<b>7</b>"), imageTag}) {
    const QString message = Refused(typed);
    auto box = CreateErrorBox(nullptr, "Zelmora", message);
    QLabel* label = MessageLabel(*box);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text(), message);
    EXPECT_EQ(box->windowTitle(), "Zelmora");
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_LT(label->sizeHint().height(), 100) << message.toStdString();
  }
}

TEST(ErrorBox, ALongTextKeepsTheBoxOnTheScreenAndReadable) {
  const QString typed = QString("1234567890").repeated(15);
  auto box = CreateErrorBox(nullptr, "Zelmora", Refused(typed));
  box->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(box.get()));
  const QRect screen = box->screen()->availableGeometry();
  EXPECT_TRUE(screen.contains(box->frameGeometry())) << box->frameGeometry().width();
  QLabel* label = MessageLabel(*box);
  ASSERT_NE(label, nullptr);
  const QSize needed = label->wordWrap() ? QSize(label->width(), label->heightForWidth(label->width()))
                                         : label->sizeHint();
  EXPECT_LE(needed.width(), label->width());
  EXPECT_LE(needed.height(), label->height());
  EXPECT_TRUE(box->rect().contains(label->geometry()));
  EXPECT_TRUE(label->text().startsWith("'1234567890"));
  EXPECT_TRUE(label->text().endsWith("1234567890' is not a valid integer value."));
  box->close();
}

// An object whose event handler fails for events of one type.
class Failing : public QObject {
 public:
  static inline const QEvent::Type kFail = static_cast<QEvent::Type>(QEvent::User + 1);
  static inline const QEvent::Type kWork = static_cast<QEvent::Type>(QEvent::User + 2);
  int worked = 0;
  bool event(QEvent* e) override {
    if (e->type() == kFail) throw std::runtime_error("'x7' is not a valid integer value");
    if (e->type() == kWork) {
      ++worked;
      return true;
    }
    return QObject::event(e);
  }
};

// The last safety net: an error escaping an event handler, sent or posted, shows the box and the
// program goes on handling events.
TEST(ErrorBox, TheApplicationsHandlerShowsEscapedErrorsAndGoesOn) {
  Failing target;
  {
    testing::ErrorBoxes boxes;
    QEvent fail(Failing::kFail);
    EXPECT_TRUE(QCoreApplication::sendEvent(&target, &fail));
    QCoreApplication::postEvent(&target, new QEvent(Failing::kFail));
    QCoreApplication::postEvent(&target, new QEvent(Failing::kWork));
    ASSERT_TRUE(QTest::qWaitFor([&] { return target.worked == 1; }, 10000));
    ASSERT_EQ(boxes.shown.size(), 2u);
    for (const auto& [title, message] : boxes.shown) {
      EXPECT_EQ(title, "Zelmora");
      EXPECT_EQ(message, "'x7' is not a valid integer value.");
    }
  }

  // The real, modal box: answered as soon as it shows.
  TApplication::SetErrorPresenter({});
  QString seen;
  Qt::TextFormat format = Qt::AutoText;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    seen = box->text();
    format = box->textFormat();
    box->button(QMessageBox::Ok)->click();
  });
  answer.start(5);
  QCoreApplication::postEvent(&target, new QEvent(Failing::kFail));
  QCoreApplication::postEvent(&target, new QEvent(Failing::kWork));
  const bool done = QTest::qWaitFor([&] { return target.worked == 2; }, 20000);
  answer.stop();
  testing::ErrorBoxes restore;  // back to recording, for the tests that follow
  ASSERT_TRUE(done);
  EXPECT_EQ(seen, "'x7' is not a valid integer value.");
  EXPECT_EQ(format, Qt::PlainText);
}

}  // namespace
}  // namespace zelmora

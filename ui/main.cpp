#include "ui/Application.h"
#include "ui/MainWindow.h"

int main(int argc, char** argv) {
  zelmora::TApplication app(argc, argv);
  zelmora::TForm1 form;
  form.show();
  return app.exec();
}

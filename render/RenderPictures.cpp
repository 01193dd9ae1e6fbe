#include "render/RenderPictures.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QList>

#include <array>
#include <cstdint>

#include "sweep/Output.h"
#include "render/ChartPictures.h"
#include "render/GridPicture.h"
#include "simulation/World.h"

namespace zelmora {
namespace {

// The image with a colour table when it has at most 256 colours, the same pixels: PNG writes
// that several times faster than 24-bit pixels, whose every row it filters five ways. Otherwise
// the image as it is.
QImage WithColourTable(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  QImage indexed(rgb.size(), QImage::Format_Indexed8);
  QList<QRgb> table;
  std::array<std::int16_t, 1024> slot;  // open addressing into `table`; -1 free
  slot.fill(-1);
  QRgb last = 0;
  uchar lastIndex = 0;
  const int width = rgb.width(), height = rgb.height();
  for (int y = 0; y < height; ++y) {
    const auto* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    uchar* out = indexed.scanLine(y);
    for (int x = 0; x < width; ++x) {
      if (in[x] != last || table.empty()) {  // mostly runs of one colour
        std::size_t h = (in[x] * 2654435761u) >> 22 & 1023;
        while (slot[h] >= 0 && table[slot[h]] != in[x]) h = (h + 1) & 1023;
        if (slot[h] < 0) {
          if (table.size() == 256) return image;
          slot[h] = std::int16_t(table.size());
          table.push_back(in[x]);
        }
        last = in[x];
        lastIndex = uchar(slot[h]);
      }
      out[x] = lastIndex;
    }
  }
  indexed.setColorTable(table);
  return indexed;
}

// The PNG's bytes, which SavePicture then puts under the name whole.
std::string Png(const QImage& image, const std::string& path) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  // Quality 80 is zlib's fastest level: the charts' flat colours still pack to a few kilobytes.
  if (!WithColourTable(image).save(&buffer, "PNG", 80)) throw sweep::IoError(path, "the picture cannot be encoded");
  return bytes.toStdString();
}

}  // namespace

void RenderPictures::Save(const QImage& image, const std::string& path) { SavePicture(path, Png(image, path)); }

void RenderPictures::SaveSnapshot(const World& world, const std::string& path) {
  // Catchment areas shown, as the window starts.
  Save(DrawGridPicture(world, true), path);
}

bool RenderPictures::DrawFrame(const World& world, sweep::Frame& frame) {
  const QImage image = DrawGridPicture(world, true).convertToFormat(QImage::Format_RGB888);
  frame.width = image.width();
  frame.height = image.height();
  frame.stride = std::size_t(image.bytesPerLine());
  frame.pixels.assign(image.constBits(), image.constBits() + image.sizeInBytes());
  return true;
}

void RenderPictures::SaveCharts(const sweep::RunCharts& charts, const std::string& marketPath,
                                const std::string& segregationPath) {
  const sweep::RunSeries& market = charts.Market();
  const sweep::RunSeries& s = charts.Segregation();
  if (charts.NoYellowMarket()) {
    Save(runCharts_.NoMarket(double(s.FirstStep()), double(s.LastStep())), marketPath);
  } else if (charts.WindowView()) {
    Save(DrawWindowChart(charts.Window().Points()), marketPath);
  } else {
    Save(runCharts_.Market(market.Line(0), market.Line(1), double(market.FirstStep()), double(market.LastStep())),
         marketPath);
  }
  Save(runCharts_.Segregation(s.Line(0), s.Line(1), s.Line(2), double(s.FirstStep()), double(s.LastStep())),
       segregationPath);
}

}  // namespace zelmora

// The start-up picture: a shaded terrain in the colours the program draws elevations with, the
// program's name, version and maker.
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>

#include <cmath>
#include <vector>

#include "app/AppIcons.h"
#include "app/KelvaroApp.h"
#include "app/ProgramVersion.h"
#include "platform/tools/MakerInfo.h"
#include "platform/ui/ElevationColorRamp.h"

namespace {

// A smooth synthetic surface of rolling hills, 0 to 1, at (x, y), where the first wave's factors
// of x alone (across = sin(x * 5.1 + 0.7)) and of y alone (down = cos(y * 3.7)) are given, worked
// out once per column and once per row.
double Height(double x, double y, double across, double down) {
    double h = 0.55 + 0.25 * across * down + 0.15 * std::sin(x * 11.3 + y * 7.9) +
               0.08 * std::cos(x * 23.0 - y * 17.0);
    return std::clamp(h * (0.35 + 0.65 * y), 0.0, 1.0);
}

double Across(double x) {
    return std::sin(x * 5.1 + 0.7);
}

double Down(double y) {
    return std::cos(y * 3.7);
}

}  // namespace

QPixmap KvSplashPicture() {
    const int width = 520;
    const int height = 320;
    QImage image(width, height, QImage::Format_RGB32);
    const bool haveRamp = ElevationColorRamp != nullptr && ElevationColorRampSize > 0;
    // The first wave's factor of each column, and of each column's neighbour to the east.
    std::vector<double> across(width), acrossEast(width);
    for (int col = 0; col < width; ++col) {
        const double x = double(col) / width;
        across[size_t(col)] = Across(x);
        acrossEast[size_t(col)] = Across(x + 1.0 / width);
    }
    // Shaded relief: the ramp's colour of each height, lit from the north-west.
    for (int row = 0; row < height; ++row) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(row));
        const double y = double(row) / height;
        const double down = Down(y), downSouth = Down(y + 1.0 / height);
        for (int col = 0; col < width; ++col) {
            double x = double(col) / width;
            double h = Height(x, y, across[size_t(col)], down);
            double dx = Height(x + 1.0 / width, y, acrossEast[size_t(col)], down) - h;
            double dy = Height(x, y + 1.0 / height, across[size_t(col)], downSouth) - h;
            double shade = std::clamp(0.75 - 90.0 * (dx + dy), 0.35, 1.15);
            int r = 90, g = 140, b = 90;
            if (haveRamp) {
                // The lower two thirds of the ramp: blue lowlands through green to warm hills.
                uint32_t c = ElevationColorRamp[static_cast<int>(h * 0.66 * (ElevationColorRampSize - 1))];
                r = c & 0xFF;
                g = (c >> 8) & 0xFF;
                b = (c >> 16) & 0xFF;
            }
            line[col] = qRgb(std::clamp(int(r * shade), 0, 255), std::clamp(int(g * shade), 0, 255),
                             std::clamp(int(b * shade), 0, 255));
        }
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient veil(0, 0, 0, height);
    veil.setColorAt(0.0, QColor(10, 30, 60, 235));
    veil.setColorAt(0.55, QColor(10, 30, 60, 120));
    veil.setColorAt(1.0, QColor(10, 30, 60, 40));
    p.fillRect(image.rect(), veil);
    p.drawPixmap(28, 30, KvAppIconPixmap(QStringLiteral("kelvaro"), 72));
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(46);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(116, 34, width - 130, 56), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Kelvaro"));
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(14);
    p.setFont(small);
    p.setPen(QColor(220, 232, 245));
    p.drawText(QRect(118, 88, width - 130, 20), Qt::AlignLeft,
               QStringLiteral("Elevation models, orthophotos and drawings"));
    p.drawText(QRect(20, height - 34, width - 40, 20), Qt::AlignLeft,
               QStringLiteral("Version %1").arg(KvGetCutVersion()));
    p.drawText(QRect(20, height - 34, width - 40, 20), Qt::AlignRight,
               QStringLiteral(KV_MAKER_NAME " - " KV_MAKER_WEB_ADDRESS));
    p.end();
    return QPixmap::fromImage(image);
}

// Draws the program's artwork: the application icon, the three palette swatches and the
// About banner. The output is committed under resources/; run this again only to change it:
//   build/default/tools/kelvra-artwork resources/icons
// With --hicolor it writes the desktop's icon theme sizes instead (the build does this for the
// installed tree): FOLDER/<n>x<n>/apps/kelvra.png for n = 16 to 256.
#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Stop {
    double at;
    QColor color;
};

// Piecewise-linear colour map.
QColor MapColor(const std::vector<Stop>& stops, double t) {
    t = std::clamp(t, 0.0, 1.0);
    for (size_t i = 1; i < stops.size(); ++i) {
        if (t <= stops[i].at) {
            const double span = stops[i].at - stops[i - 1].at;
            const double f = span > 0 ? (t - stops[i - 1].at) / span : 0.0;
            const QColor& a = stops[i - 1].color;
            const QColor& b = stops[i].color;
            return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * f,
                                    a.greenF() + (b.greenF() - a.greenF()) * f,
                                    a.blueF() + (b.blueF() - a.blueF()) * f);
        }
    }
    return stops.back().color;
}

const std::vector<Stop> kGrey = {{0.0, QColor(12, 12, 12)}, {1.0, QColor(245, 245, 245)}};
const std::vector<Stop> kInferno = {{0.0, QColor(0, 0, 4)},
                                    {0.25, QColor(87, 16, 110)},
                                    {0.5, QColor(188, 55, 84)},
                                    {0.75, QColor(249, 142, 9)},
                                    {1.0, QColor(252, 255, 164)}};
const std::vector<Stop> kSoftLight = {{0.0, QColor(46, 64, 110)},
                                      {0.35, QColor(110, 160, 190)},
                                      {0.65, QColor(230, 205, 160)},
                                      {1.0, QColor(250, 240, 225)}};

// A synthetic thermal scene in 0..1: a warm blob on a cool, slightly noisy background.
double Scene(double x, double y) {
    const double body = std::exp(-(std::pow((x - 0.62) / 0.16, 2) + std::pow((y - 0.48) / 0.30, 2)));
    const double head = std::exp(-(std::pow((x - 0.62) / 0.07, 2) + std::pow((y - 0.16) / 0.09, 2)));
    const double lamp = 0.55 * std::exp(-(std::pow((x - 0.2) / 0.05, 2) + std::pow((y - 0.3) / 0.05, 2)));
    const double floorGrad = 0.18 * y;
    const double ripple = 0.03 * std::sin(x * 47.0 + y * 13.0) * std::cos(y * 29.0);
    return std::clamp(0.12 + floorGrad + 0.75 * std::max(body, head) + lamp + ripple, 0.0, 1.0);
}

QImage Swatch(const std::vector<Stop>& map) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int x = 1; x < 15; ++x) {
        p.setPen(MapColor(map, (x - 1) / 13.0));
        p.drawLine(x, 2, x, 13);
    }
    p.setPen(QColor(60, 60, 60));
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 1, 15, 13);
    return image;
}

QImage AppIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    // Body.
    QLinearGradient body(0, 8, 0, 56);
    body.setColorAt(0, QColor(74, 82, 92));
    body.setColorAt(1, QColor(36, 40, 46));
    p.setPen(QPen(QColor(20, 22, 26), 1.5));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(4, 10, 56, 44), 8, 8);
    // Lens showing a small thermal picture.
    QImage lens(40, 40, QImage::Format_ARGB32);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            lens.setPixelColor(x, y, MapColor(kInferno, Scene(x / 39.0, y / 39.0)));
    QPainterPath circle;
    circle.addEllipse(QRectF(14, 14, 36, 36));
    p.save();
    p.setClipPath(circle);
    p.drawImage(QRectF(14, 14, 36, 36), lens);
    p.restore();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(190, 196, 204), 3));
    p.drawEllipse(QRectF(14, 14, 36, 36));
    p.setPen(QPen(QColor(20, 22, 26), 1.2));
    p.drawEllipse(QRectF(12, 12, 40, 40));
    // Status lamp.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(98, 200, 120));
    p.drawEllipse(QRectF(50, 14, 6, 6));
    return image;
}

QImage AboutBanner() {
    const int w = 450, h = 174;
    QImage image(w, h, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    // Left: dark field with the name. Right: the thermal scene fading in.
    QLinearGradient bg(0, 0, 0, h);
    bg.setColorAt(0, QColor(30, 34, 42));
    bg.setColorAt(1, QColor(16, 18, 23));
    p.fillRect(image.rect(), bg);
    const int sceneLeft = 230;
    QImage scene(w - sceneLeft, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < scene.width(); ++x) {
            QColor c = MapColor(kInferno, Scene(x / double(scene.width() - 1), y / double(h - 1)));
            const double fade = std::clamp(x / 70.0, 0.0, 1.0);
            c.setAlphaF(fade);
            scene.setPixelColor(x, y, c);
        }
    }
    p.drawImage(sceneLeft, 0, scene);
    // Scale bar under the scene.
    for (int x = 0; x < 180; ++x) {
        p.setPen(MapColor(kInferno, x / 179.0));
        p.drawLine(sceneLeft + 30 + x, h - 14, sceneLeft + 30 + x, h - 8);
    }
    p.drawImage(QRectF(24, 28, 56, 56), AppIcon(128));
    QFont title("DejaVu Sans", 30, QFont::Bold);
    p.setFont(title);
    p.setPen(QColor(236, 238, 242));
    p.drawText(QPointF(92, 70), "Kelvra");
    QFont sub("DejaVu Sans", 10);
    p.setFont(sub);
    p.setPen(QColor(170, 178, 190));
    p.drawText(QPointF(26, 116), "Thermal camera core");
    p.drawText(QPointF(26, 134), "control panel");
    p.setPen(QPen(QColor(249, 142, 9), 2));
    p.drawLine(26, 96, 200, 96);
    return image;
}

bool Save(const QImage& image, const QDir& dir, const char* name) {
    const QString path = dir.filePath(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool SaveThemeIcons(const QDir& theme) {
    bool ok = true;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        if (!theme.mkpath(folder)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(theme.filePath(folder)));
            return false;
        }
        ok = Save(AppIcon(size), QDir(theme.filePath(folder)), "kelvra.png") && ok;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const bool hicolor = argc == 3 && std::strcmp(argv[1], "--hicolor") == 0;
    if (argc != 2 && !hicolor) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n       %s --hicolor THEME_FOLDER\n", argv[0], argv[0]);
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[argc - 1]));
    if (!dir.exists() && !QDir().mkpath(dir.path()))
        return 1;
    if (hicolor)
        return SaveThemeIcons(dir) ? 0 : 1;
    bool ok = Save(AppIcon(128), dir, "kelvra.png");
    ok = Save(AppIcon(32), dir, "kelvra-32.png") && ok;
    ok = Save(Swatch(kGrey), dir, "palette-off.png") && ok;
    ok = Save(Swatch(kInferno), dir, "palette-inferno.png") && ok;
    ok = Save(Swatch(kSoftLight), dir, "palette-soft-light.png") && ok;
    ok = Save(AboutBanner(), dir, "about.png") && ok;
    return ok ? 0 : 1;
}

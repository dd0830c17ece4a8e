// Draws the program's own pictures: the icon and the four 97 x 25 faces of the focus buttons
// (released and pressed, "Focus +" and "Focus -"). Run once by hand; the pictures are kept beside it:
// PNG for the Qt program, BMP and ICO for the Windows program's resource script.
//   kestrix-make-resources OUTPUT_FOLDER
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

// A thermal-camera icon: a dark lens body with a warm-to-hot gradient eye and a red centre mark.
QImage DrawIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 32.0;
    QLinearGradient body(0, 0, 0, size);
    body.setColorAt(0, QColor(70, 78, 92));
    body.setColorAt(1, QColor(28, 32, 40));
    p.setBrush(body);
    p.setPen(QPen(QColor(15, 18, 24), 1 * s));
    p.drawRoundedRect(QRectF(2 * s, 6 * s, 28 * s, 21 * s), 4 * s, 4 * s);
    p.drawRect(QRectF(10 * s, 3 * s, 9 * s, 4 * s));
    QRadialGradient eye(QPointF(16 * s, 16.5 * s), 8 * s);
    eye.setColorAt(0.0, QColor(255, 255, 210));
    eye.setColorAt(0.35, QColor(255, 190, 40));
    eye.setColorAt(0.7, QColor(220, 40, 40));
    eye.setColorAt(1.0, QColor(70, 20, 120));
    p.setBrush(eye);
    p.setPen(QPen(QColor(200, 205, 215), 1.2 * s));
    p.drawEllipse(QPointF(16 * s, 16.5 * s), 8 * s, 8 * s);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 0, 0), 1.2 * s));
    p.drawRect(QRectF(14 * s, 14.5 * s, 4 * s, 4 * s));
    return image;
}

// A rounded button face with its label; the pressed face is darker and lit from below.
QImage DrawFace(const QString& label, bool pressed) {
    QImage image(97, 25, QImage::Format_RGB888);
    image.fill(QColor(240, 240, 240));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, 25);
    if (pressed) {
        fill.setColorAt(0, QColor(96, 112, 136));
        fill.setColorAt(1, QColor(150, 166, 190));
    } else {
        fill.setColorAt(0, QColor(250, 252, 255));
        fill.setColorAt(0.5, QColor(214, 224, 238));
        fill.setColorAt(1, QColor(176, 192, 214));
    }
    p.setBrush(fill);
    p.setPen(QPen(pressed ? QColor(40, 52, 72) : QColor(96, 110, 134), 1));
    p.drawRoundedRect(QRectF(0.5, 0.5, 96, 24), 11, 11);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(12);
    font.setBold(true);
    p.setFont(font);
    p.setPen(pressed ? QColor(255, 255, 255) : QColor(24, 36, 56));
    p.drawText(QRectF(0, pressed ? 1 : 0, 97, 25), Qt::AlignCenter, label);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrix-make-resources OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]) + u'/';
    const QImage icon = DrawIcon(32);
    bool ok = icon.save(out + "icon128.png");
    ok = icon.save(out + "icon128.ico") && ok;
    const struct {
        const char* name;
        const char* label;
        bool pressed;
    } faces[] = {
        {"focus137", "Focus -", false},
        {"focus138", "Focus +", true},
        {"focus139", "Focus +", false},
        {"focus140", "Focus -", true},
    };
    for (const auto& face : faces) {
        const QImage image = DrawFace(QString::fromLatin1(face.label), face.pressed);
        ok = image.save(out + face.name + ".png") && ok;
        ok = image.save(out + face.name + ".bmp") && ok;
    }
    return ok ? 0 : 1;
}

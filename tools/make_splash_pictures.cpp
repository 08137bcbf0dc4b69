// Draws the splash window's three pictures into a folder (normally resources/):
//   splash_background.jpg  222 x 190  abstract red and orange emblem (the window's background)
//   splash_logo.jpg        236 x 51   logo banner with the program's name
//   splash_anagrama.bmp    305 x 249  blue emblem of a screen and rings, 24 bits per pixel
//   retratix.png           64 x 64    the background's emblem on a transparent square (desktop icon)
// Usage: QT_QPA_PLATFORM=offscreen make_splash_pictures FOLDER
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

const QColor Red(200, 30, 40);
const QColor Orange(245, 140, 30);
const QColor Blue(25, 80, 170);
const QColor LightBlue(110, 160, 230);

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

// Overlapping petals turning around one centre, red fading into orange, and a light core.
void drawEmblem(QPainter& p, QPointF centre)
{
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(centre);
        p.rotate(i * 45.0);
        QLinearGradient fill(0, 0, 0, -80);
        fill.setColorAt(0, Red);
        fill.setColorAt(1, Orange);
        QColor edge = Red.darker(120);
        p.setPen(QPen(edge, 1.5));
        p.setBrush(fill);
        p.setOpacity(0.75);
        p.drawEllipse(QRectF(-18, -82, 36, 72));
        p.restore();
    }
    QRadialGradient core(centre, 26);
    core.setColorAt(0, Qt::white);
    core.setColorAt(1, Orange);
    p.setOpacity(1);
    p.setPen(Qt::NoPen);
    p.setBrush(core);
    p.drawEllipse(centre, 24, 24);
}

QImage background()
{
    QImage image = canvas(222, 190);
    QPainter p(&image);
    drawEmblem(p, QPointF(105, 95));
    return image;
}

// Drawn at three times the size and scaled down, so that the small petals stay smooth.
QImage icon()
{
    QImage image(192, 192, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    drawEmblem(p, QPointF(96, 96));
    p.end();
    return image.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QImage logo()
{
    QImage image = canvas(236, 51);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient band(0, 0, 236, 0);
    band.setColorAt(0, Red);
    band.setColorAt(1, Orange);
    p.fillRect(QRect(0, 0, 236, 51), band);
    // A small ring as the mark, then the name.
    p.setPen(QPen(Qt::white, 3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(26, 25.5), 14, 14);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(26, 25.5), 5, 5);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(28);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(50, 0, 180, 51), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Retratix"));
    return image;
}

QImage anagrama()
{
    QImage image = canvas(305, 249);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Rings behind the screen.
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(i % 2 ? LightBlue : Blue, 6));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(152.5, 112), 140 - i * 22, 100 - i * 16);
    }
    // The screen with its stand.
    p.setPen(QPen(Blue.darker(130), 4));
    QLinearGradient glass(0, 60, 0, 160);
    glass.setColorAt(0, LightBlue);
    glass.setColorAt(1, Blue);
    p.setBrush(glass);
    p.drawRoundedRect(QRectF(92, 62, 121, 90), 8, 8);
    p.setBrush(Blue);
    p.drawRect(QRectF(142, 152, 21, 30));
    p.drawRoundedRect(QRectF(112, 182, 81, 12), 4, 4);
    return image;
}

bool save(const QImage& image, const QString& path, const char* format, int quality)
{
    QImageWriter writer(path, format);
    writer.setQuality(quality);
    if (!writer.write(image)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(writer.errorString()));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_splash_pictures FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const bool ok = save(background(), folder.filePath(QStringLiteral("splash_background.jpg")), "jpeg", 85)
        && save(logo(), folder.filePath(QStringLiteral("splash_logo.jpg")), "jpeg", 85)
        // A 32-bit image becomes a 24-bit uncompressed bitmap with a 40-byte information header.
        && save(anagrama(), folder.filePath(QStringLiteral("splash_anagrama.bmp")), "bmp", -1)
        && save(icon(), folder.filePath(QStringLiteral("retratix.png")), "png", -1);
    return ok ? 0 : 1;
}

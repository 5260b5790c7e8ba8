// Draws the program's 128 x 128 icon (window, tray and About box): a payment card with a
// signature stroke across it, on a rounded teal tile, kept to a 256-colour palette. Run by
// draw-icon.sh; the picture it made is kept with the shell's sources.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

namespace {

constexpr int kSize = 128;

void drawTile(QPainter& painter)
{
    QLinearGradient ground(0, 0, 0, kSize);
    ground.setColorAt(0, QColor(32, 140, 150));
    ground.setColorAt(1, QColor(12, 78, 96));
    painter.setPen(Qt::NoPen);
    painter.setBrush(ground);
    painter.drawRoundedRect(QRectF(4, 4, kSize - 8, kSize - 8), 22, 22);
}

// A card tilted a little, white with a dark magnetic stripe and a gold chip.
void drawCard(QPainter& painter)
{
    painter.save();
    painter.translate(64, 58);
    painter.rotate(-8);
    const QRectF card(-44, -28, 88, 56);
    painter.setBrush(QColor(0, 0, 0, 70));
    painter.drawRoundedRect(card.translated(3, 4), 7, 7);
    painter.setBrush(QColor(250, 250, 246));
    painter.drawRoundedRect(card, 7, 7);
    painter.setBrush(QColor(36, 40, 48));
    painter.drawRect(QRectF(-44, -19, 88, 12));
    painter.setBrush(QColor(226, 180, 60));
    painter.drawRoundedRect(QRectF(-34, 0, 16, 12), 2, 2);
    painter.restore();
}

// The customer's signature, written over the card's lower edge in blue ink.
void drawSignature(QPainter& painter)
{
    QPainterPath stroke(QPointF(18, 100));
    stroke.cubicTo(QPointF(26, 78), QPointF(36, 74), QPointF(38, 92));
    stroke.cubicTo(QPointF(40, 106), QPointF(50, 80), QPointF(58, 86));
    stroke.cubicTo(QPointF(64, 92), QPointF(66, 100), QPointF(74, 88));
    stroke.cubicTo(QPointF(82, 76), QPointF(88, 98), QPointF(96, 92));
    stroke.cubicTo(QPointF(102, 88), QPointF(106, 84), QPointF(112, 86));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 255, 255), 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(stroke);
    painter.setPen(QPen(QColor(24, 52, 170), 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(stroke);
}

QImage programIcon()
{
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    drawTile(painter);
    drawCard(painter);
    drawSignature(painter);
    painter.end();
    // One palette of at most 256 colours, transparency included.
    return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdAlphaDither);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: varnelpayment-drawicon FILE.png\n";
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    if (!programIcon().save(path)) {
        err << "cannot write " << path << '\n';
        return 1;
    }
    return 0;
}

// Draws the controls' pictures into a folder: the signature control's background picture, the
// card reader control's card and the two toolbox pictures. Run by draw-pictures.sh; the
// pictures it made are kept with the library's sources.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

namespace {

// The sixteen colours of a 16-colour toolbox picture.
QList<QRgb> sixteenColors()
{
    return {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
            qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
            qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
            qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
}

// "Signature Area" in a slanted, joined-up hand, black on white, 24 bits a pixel.
QImage signatureArea()
{
    QImage image(151, 46, QImage::Format_RGB888);
    image.fill(Qt::white);
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setItalic(true);
    font.setPixelSize(19);
    font.setLetterSpacing(QFont::AbsoluteSpacing, -0.6);
    QPainterPath words;
    words.addText(0, 0, font, QStringLiteral("Signature Area"));
    QTransform slant;
    slant.translate(6, 29);
    slant.shear(-0.28, 0);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 0.7));
    painter.setBrush(Qt::black);
    painter.drawPath(slant.map(words));
    // An underline stroke, as a hand would finish it.
    QPainterPath flourish(QPointF(8, 37));
    flourish.cubicTo(QPointF(50, 33), QPointF(100, 41), QPointF(142, 34));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, 1.2, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(flourish);
    return image;
}

// A white card with a black magnetic stripe on a grey ground, 256 colours.
QImage card()
{
    QImage image(47, 42, QImage::Format_RGB32);
    image.fill(qRgb(192, 192, 192));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(128, 128, 128));
    painter.drawRoundedRect(QRectF(5, 8, 38, 26), 3, 3);
    painter.setBrush(Qt::white);
    painter.setPen(QPen(QColor(64, 64, 64), 1));
    painter.drawRoundedRect(QRectF(3.5, 6.5, 37, 25), 3, 3);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawRect(QRect(4, 11, 37, 6));
    painter.setBrush(QColor(128, 128, 128));
    painter.drawRect(QRect(8, 22, 18, 2));
    painter.drawRect(QRect(8, 26, 11, 2));
    painter.end();
    return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
}

QImage toSixteenColors(const QImage& image)
{
    return image.convertToFormat(QImage::Format_Indexed8, sixteenColors(),
                                 Qt::ThresholdDither | Qt::AvoidDither);
}

// The card reader's toolbox picture: a white card with a black stripe.
QImage msrToolbox()
{
    QImage image(16, 15, QImage::Format_RGB32);
    image.fill(qRgb(192, 192, 192));
    QPainter painter(&image);
    painter.setPen(QColor(0, 0, 0));
    painter.setBrush(Qt::white);
    painter.drawRect(QRect(1, 3, 13, 9));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawRect(QRect(2, 5, 12, 2));
    painter.setBrush(QColor(128, 128, 128));
    painter.drawRect(QRect(3, 9, 5, 1));
    painter.end();
    return toSixteenColors(image);
}

// The signature control's toolbox picture: a handwritten stroke in a dashed frame.
QImage sigToolbox()
{
    QImage image(16, 15, QImage::Format_RGB32);
    image.fill(qRgb(192, 192, 192));
    QPainter painter(&image);
    painter.setPen(QPen(QColor(128, 128, 128), 1, Qt::DashLine));
    painter.drawRect(QRect(0, 0, 15, 14));
    painter.setPen(QPen(QColor(0, 0, 128), 1));
    const QPoint stroke[] = {{2, 10}, {4, 5},  {5, 4},   {6, 6},  {6, 10}, {8, 7},
                             {9, 6},  {10, 9}, {11, 10}, {12, 7}, {13, 5}};
    painter.drawPolyline(stroke, int(std::size(stroke)));
    painter.end();
    return toSixteenColors(image);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: quillset-drawpictures FOLDER\n";
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const QList<QPair<QString, QImage>> pictures = {
        {QStringLiteral("signaturearea.png"), signatureArea()},
        {QStringLiteral("card.png"), card()},
        {QStringLiteral("msrcontrol-toolbox.png"), msrToolbox()},
        {QStringLiteral("sigcontrol-toolbox.png"), sigToolbox()},
    };
    for (const auto& [name, image] : pictures) {
        if (!image.save(folder.filePath(name))) {
            err << "cannot write " << folder.filePath(name) << '\n';
            return 1;
        }
    }
    return 0;
}

// Places a signature mirror, draws a line on it and counts the ink: prints "ink N" and exits
// with 0 when the line is there.
#include <cstdio>

#include <QApplication>
#include <QImage>

#include <quillset/msrcontrol.h>
#include <quillset/sigcontrol.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Quillset::SigControl mirror;
    Quillset::MSRControl reader;
    mirror.resize(200, 60);
    if (!mirror.initProperties().ok() || !reader.initProperties().ok())
        return 1;
    if (!mirror.MimicSetScale(200, 60).ok() || !mirror.MimicSetLine(10, 30, 190, 30).ok())
        return 1;
    const QImage image = mirror.surface().image();
    int ink = 0;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (qGray(image.pixel(x, y)) < 128)
                ++ink;
    std::printf("ink %d\n", ink);
    return ink > 0 ? 0 : 1;
}

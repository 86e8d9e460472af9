// Prints the size in bytes of PATH re-encoded by Qt's PNG writer at its
// default settings: the yardstick for the size of our own PNG files.
#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2)
        return 2;
    const QImage image(QString::fromLocal8Bit(argv[1]));
    if (image.isNull())
        return 1;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        return 1;
    std::printf("%lld\n", static_cast<long long>(buffer.size()));
    return 0;
}

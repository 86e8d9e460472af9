// Draws a made-up screenshot of a code editor, so `make run`, the README and
// the benchmarks have a realistic picture (flat areas, text, antialiased
// edges) that belongs to the project.
//
//   quorvel-sample OUT.png [--size WIDTHxHEIGHT] [--scale RATIO]
//
// The size is in points; the picture has size × ratio pixels and records the
// ratio as its density, as a HiDPI capture does.

#include "png_writer.h"

#include <QCommandLineParser>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

struct Token {
    const char* text;
    QColor color;
};

const QColor kText(212, 212, 216);
const QColor kKeyword(198, 120, 221);
const QColor kType(97, 175, 239);
const QColor kString(152, 195, 121);
const QColor kComment(110, 118, 129);
const QColor kNumber(209, 154, 102);

const std::vector<std::vector<Token>> kCode = {
    {{"// Frame a capture on its background.", kComment}},
    {{"QImage ", kType},
     {"framed", kText},
     {"(const ", kKeyword},
     {"QImage", kType},
     {"& shot, double padding)", kText}},
    {{"{", kText}},
    {{"    const ", kKeyword},
     {"int ", kType},
     {"inset = ", kText},
     {"qRound", kType},
     {"(padding * shot.devicePixelRatio());", kText}},
    {{"    QImage ", kType},
     {"canvas(shot.width() + ", kText},
     {"2", kNumber},
     {" * inset, shot.height() + ", kText},
     {"2", kNumber},
     {" * inset,", kText}},
    {{"                  QImage::Format_ARGB32_Premultiplied);", kText}},
    {{"    canvas.fill(", kText},
     {"QColor", kType},
     {"(", kText},
     {"\"#5856d6\"", kString},
     {"));", kText}},
    {{"    QPainter ", kType}, {"painter(&canvas);", kText}},
    {{"    painter.drawImage(inset, inset, shot);", kText}},
    {{"    return ", kKeyword}, {"canvas;", kText}},
    {{"}", kText}},
    {{"", kText}},
    {{"int ", kType}, {"main", kText}, {"(int ", kType}, {"argc, char* argv[])", kText}},
    {{"{", kText}},
    {{"    QGuiApplication ", kType}, {"app(argc, argv);", kText}},
    {{"    const ", kKeyword},
     {"QImage ", kType},
     {"shot(", kText},
     {"\"capture.png\"", kString},
     {");", kText}},
    {{"    if ", kKeyword}, {"(shot.isNull())", kText}},
    {{"        return ", kKeyword}, {"1", kNumber}, {";", kText}},
    {{"    return ", kKeyword},
     {"framed(shot, ", kText},
     {"40.0", kNumber},
     {").save(", kText},
     {"\"out.png\"", kString},
     {") ? ", kText},
     {"0", kNumber},
     {" : ", kText},
     {"1", kNumber},
     {";", kText}},
    {{"}", kText}},
};

void drawWindow(QPainter& p, const QSizeF size)
{
    const qreal titleHeight = 38;
    const qreal sidebarWidth = std::min<qreal>(220, size.width() * 0.25);
    p.fillRect(QRectF(QPointF(), size), QColor(40, 42, 48));

    // Header bar with the window buttons.
    p.fillRect(QRectF(0, 0, size.width(), titleHeight), QColor(32, 33, 38));
    QFont titleFont(QStringLiteral("DejaVu Sans"));
    titleFont.setPixelSize(13);
    titleFont.setBold(true);
    p.setFont(titleFont);
    p.setPen(QColor(200, 200, 205));
    p.drawText(QRectF(0, 0, size.width(), titleHeight), Qt::AlignCenter,
               QStringLiteral("framed.cpp — Sample Project"));
    p.setRenderHint(QPainter::Antialiasing);
    const QColor buttons[] = {QColor(95, 99, 110), QColor(95, 99, 110), QColor(229, 83, 75)};
    for (int i = 0; i < 3; ++i) {
        p.setBrush(buttons[i]);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(size.width() - 76 + i * 26, titleHeight / 2), 7, 7);
    }

    // Sidebar with a file list.
    p.fillRect(QRectF(0, titleHeight, sidebarWidth, size.height() - titleHeight),
               QColor(34, 36, 41));
    QFont uiFont(QStringLiteral("DejaVu Sans"));
    uiFont.setPixelSize(13);
    p.setFont(uiFont);
    const char* files[] = {"CMakeLists.txt", "README.md",    "src",   "  framed.cpp",
                           "  framed.h",     "  main.cpp",   "tests", "  tst_framed.cpp",
                           "docs",           "  picture.png"};
    qreal y = titleHeight + 16;
    for (const char* file : files) {
        const bool selected = QByteArray(file).trimmed() == "framed.cpp";
        if (selected) {
            p.setBrush(QColor(58, 90, 160));
            p.drawRoundedRect(QRectF(8, y - 4, sidebarWidth - 16, 26), 6, 6);
        }
        p.setPen(selected ? QColor(255, 255, 255) : QColor(170, 172, 180));
        p.drawText(QPointF(20, y + 14), QString::fromUtf8(file));
        p.setPen(Qt::NoPen);
        y += 30;
    }

    // The editor.
    const qreal left = sidebarWidth + 16;
    QFont code(QStringLiteral("DejaVu Sans Mono"));
    code.setPixelSize(14);
    p.setFont(code);
    const qreal lineHeight = 22;
    y = titleHeight + 28;
    int number = 1;
    while (y < size.height() - 16) {
        const auto& line = kCode[(number - 1) % kCode.size()];
        const QString label = QString::number(number);
        p.setPen(QColor(90, 94, 104));
        p.drawText(QPointF(left + 32 - QFontMetricsF(code).horizontalAdvance(label), y), label);
        qreal x = left + 48;
        for (const Token& token : line) {
            const QString text = QString::fromUtf8(token.text);
            p.setPen(token.color);
            p.drawText(QPointF(x, y), text);
            x += QFontMetricsF(code).horizontalAdvance(text);
        }
        y += lineHeight;
        ++number;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    // The offscreen platform complains about a missing runtime folder it never uses.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtWarningMsg || !message.startsWith(QLatin1String("QStandardPaths:")))
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Draws Quorvel's sample screenshot."));
    parser.addHelpOption();
    const QCommandLineOption sizeOption(QStringLiteral("size"), QStringLiteral("Size in points."),
                                        QStringLiteral("WxH"), QStringLiteral("960x600"));
    const QCommandLineOption scaleOption(QStringLiteral("scale"),
                                         QStringLiteral("Pixels per point."),
                                         QStringLiteral("RATIO"), QStringLiteral("1"));
    parser.addOptions({sizeOption, scaleOption});
    parser.addPositionalArgument(QStringLiteral("OUT"), QStringLiteral("PNG file to write."));
    parser.process(app);
    const QStringList dims = parser.value(sizeOption).split(QLatin1Char('x'));
    const qreal scale = parser.value(scaleOption).toDouble();
    if (parser.positionalArguments().size() != 1 || dims.size() != 2 || scale <= 0)
        parser.showHelp(2);
    const QSizeF size(dims[0].toDouble(), dims[1].toDouble());
    if (size.isEmpty())
        parser.showHelp(2);

    QImage shot((size * scale).toSize(), QImage::Format_RGB32);
    shot.setDevicePixelRatio(scale);
    {
        QPainter painter(&shot);
        drawWindow(painter, size);
    }
    const QString out = parser.positionalArguments().first();
    const Result<void> written = writePng(shot, out);
    if (!written.ok()) {
        std::fprintf(stderr, "quorvel-sample: %s: %s\n", qPrintable(out),
                     qPrintable(written.error()));
        return 1;
    }
    return 0;
}

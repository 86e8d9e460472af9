#pragma once

// Movies made and read back with the ffmpeg program, for the movie tests.

#include "test_support.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRect>
#include <QRegularExpression>
#include <limits>

namespace movie_fixtures {

// Runs ffmpeg with `arguments` split at spaces, writing `path`.
inline bool make(const QString& path, const QString& arguments)
{
    const auto made = test_support::run(
        "ffmpeg", QStringList{"-y", "-hide_banner", "-loglevel", "error"} +
                      arguments.split(' ', Qt::SkipEmptyParts) + QStringList{path});
    if (made.exitCode != 0)
        qWarning("%s", made.err.constData());
    return made.exitCode == 0;
}

inline QJsonDocument probe(const QString& path, const QStringList& arguments)
{
    return QJsonDocument::fromJson(
        test_support::run("ffprobe", QStringList{"-v", "error", "-of", "json"} + arguments << path)
            .out);
}

// ffprobe's view of the first stream of `type` (v or a), frames and packets counted.
inline QJsonObject stream(const QString& path, const QString& type = "v")
{
    return probe(path, {"-show_streams", "-count_frames", "-count_packets", "-select_streams",
                        type})["streams"][0]
        .toObject();
}

// Where each video packet starts in the file.
inline QList<qint64> packetPositions(const QString& path)
{
    QList<qint64> positions;
    for (const auto packet :
         probe(path, {"-select_streams", "v", "-show_entries", "packet=pos"})["packets"].toArray())
        positions << packet.toObject()["pos"].toString().toLongLong();
    return positions;
}

// Overwrites bytes of `path` at each offset.
inline bool patch(const QString& path, const QList<QPair<qint64, QByteArray>>& changes)
{
    QByteArray bytes = test_support::fileBytes(path);
    for (const auto& [at, replacement] : changes) {
        if (at < 0 || at + replacement.size() > bytes.size())
            return false;
        bytes.replace(at, replacement.size(), replacement);
    }
    return test_support::fileBytes(path, bytes) == bytes;
}

inline bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The scale filter's words for how a stream's YUV numbers are read.
inline QString readAs(const QJsonObject& video)
{
    const QString space = video["color_space"].toString();
    const bool bt601 = space == "smpte170m" || space == "bt470bg";
    return QStringLiteral("in_color_matrix=%1:in_range=%2")
        .arg(bt601 ? "bt601" : "bt709", video["color_range"].toString() == "pc" ? "pc" : "tv");
}

// Frame `index` as RGB, through `filters`; by default read by the movie's own colour tags.
inline QImage frame(const QString& path, int index = 0, QString filters = {})
{
    if (filters.isEmpty())
        filters = "scale=" + readAs(stream(path));
    const QString chain = QStringLiteral("select=eq(n\\,%1),").arg(index) + filters;
    const auto decoded =
        test_support::run("ffmpeg", {"-v", "error", "-i", path, "-vf", chain, "-frames:v", "1",
                                     "-f", "image2pipe", "-c:v", "png", "-"});
    return QImage::fromData(decoded.out).convertToFormat(QImage::Format_RGB32);
}

// ffmpeg's PSNR in dB, averaged over Y, U and V and every frame, of `area` of
// the movie at `path` against `source` turned by `filters` into the same form.
inline double psnr(const QString& path, QRect area, const QString& source, const QString& filters)
{
    const QString graph =
        QString::asprintf("[0:v]crop=%d:%d:%d:%d[made];[1:v]%s[expected];"
                          "[made][expected]psnr",
                          area.width(), area.height(), area.x(), area.y(), qPrintable(filters));
    const auto compared = test_support::run(
        "ffmpeg", {"-hide_banner", "-i", path, "-i", source, "-lavfi", graph, "-f", "null", "-"});
    const auto found =
        QRegularExpression("PSNR y:.* average:(inf|[0-9.]+)").match(QString(compared.err));
    if (!found.hasMatch())
        qWarning("%s", compared.err.constData());
    return !found.hasMatch()            ? -1
           : found.captured(1) == "inf" ? std::numeric_limits<double>::infinity()
                                        : found.captured(1).toDouble();
}

} // namespace movie_fixtures

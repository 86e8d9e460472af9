#include "open_requests.h"

#include <QFileInfo>
#include <QObject>
#include <QStringList>

namespace {

const QStringList kImageSuffixes{"jpg", "jpeg", "png", "tif", "tiff", "bmp", "gif", "heic", "heif"};
const QStringList kMovieSuffixes{"mov", "mp4", "m4v"};

QString patterns(const QStringList& suffixes)
{
    return QStringLiteral("*.") + suffixes.join(QStringLiteral(" *."));
}

} // namespace

QString imagesNameFilter()
{
    return QObject::tr("Images (%1)").arg(patterns(kImageSuffixes));
}

QString moviesNameFilter()
{
    return QObject::tr("Movies (%1)").arg(patterns(kMovieSuffixes));
}

OpenableKind openableKind(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (kImageSuffixes.contains(suffix))
        return OpenableKind::image;
    if (kMovieSuffixes.contains(suffix))
        return OpenableKind::movie;
    return OpenableKind::none;
}

#include "open_requests.h"

#include <QObject>

QString imagesNameFilter()
{
    return QObject::tr("Images (*.jpg *.jpeg *.png *.tif *.tiff *.bmp *.gif *.heic *.heif)");
}

QString moviesNameFilter()
{
    return QObject::tr("Movies (*.mov *.mp4 *.m4v)");
}

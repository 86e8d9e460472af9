#include "video_player_view.h"

// Placeholder until the real player lands.
VideoPlayerView::VideoPlayerView(const QUrl& url, double cornerRadius, QWidget* parent)
    : QWidget(parent), m_url(url), m_cornerRadius(cornerRadius)
{
}

VideoPlayerView::~VideoPlayerView() = default;

void VideoPlayerView::setUrl(const QUrl& url)
{
    m_url = url;
}

void VideoPlayerView::setCornerRadius(double radius)
{
    m_cornerRadius = radius;
    update();
}

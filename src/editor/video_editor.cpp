#include "video_editor.h"

#include "exporting_notice.h"
#include "gradient_background.h"
#include "soft_shadow.h"
#include "standard_button.h"
#include "video_player_view.h"

#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kMargin = 40;

// Paints the shadow a shape casts on what lies under this widget; the shape
// itself is another widget's business. Lets the pointer through.
class ShadowLayer : public QWidget {
public:
    ShadowLayer(double blurRadius, QWidget* parent)
        : QWidget(parent), m_shadow(blurRadius, QColor::fromRgbF(0, 0, 0, 0.33f))
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    void setShape(const QRectF& shape, double cornerRadius)
    {
        m_shape = shape;
        m_cornerRadius = cornerRadius;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (m_shape.isEmpty())
            return;
        QPainter painter(this);
        // Only around the shape: until the movie's first frame the player
        // shows what lies under it, and that must not be the shadow.
        QPainterPath outside;
        outside.addRect(rect());
        QPainterPath shape;
        shape.addRoundedRect(m_shape, m_cornerRadius, m_cornerRadius);
        painter.setClipPath(outside.subtracted(shape));
        m_shadow.paint(painter, m_shape, m_cornerRadius);
    }

private:
    SoftShadow m_shadow;
    QRectF m_shape;
    double m_cornerRadius = 0;
};

// The largest rectangle of `size`'s aspect ratio centred in `area`.
QRect fitted(QSize size, const QRect& area)
{
    if (size.isEmpty() || area.isEmpty())
        return area;
    const double scale =
        std::min(double(area.width()) / size.width(), double(area.height()) / size.height());
    const QSize shown(int(std::lround(size.width() * scale)),
                      int(std::lround(size.height() * scale)));
    return {area.topLeft() +
                QPoint((area.width() - shown.width()) / 2, (area.height() - shown.height()) / 2),
            shown};
}

} // namespace

// The export in small, as the picture's preview shows a picture: the movie
// with its padding (in the movie's pixels, as the export pads it) scaled to
// fit the area less its margin, the background under both casting a shadow,
// and the movie on it in its own shape, casting a smaller one. Until the
// first frame tells the movie's shape, the background fills the area, the
// player takes the whole padded part of it and casts no shadow.
class VideoPreview : public QWidget {
public:
    VideoPreview(const QUrl& url, QWidget* parent)
        : QWidget(parent), m_shadow(15, QColor::fromRgbF(0, 0, 0, 0.33f)),
          m_background(new GradientBackground(this)),
          m_videoShadow(new ShadowLayer(10, m_background)),
          m_player(new VideoPlayerView(url, m_cornerRadius / 5, m_background))
    {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        setMinimumSize(2 * kMargin + 40, 2 * kMargin + 40);
        connect(m_player, &VideoPlayerView::movieSizeChanged, this, [this] { placeChildren(); });
        connect(m_player, &VideoPlayerView::playbackFailed, this, [this] { placeChildren(); });
    }

    GradientBackground* background() const { return m_background; }
    VideoPlayerView* player() const { return m_player; }

    void setPadding(double points)
    {
        m_padding = points;
        placeChildren();
    }

    void setCornerRadius(double points)
    {
        m_cornerRadius = points;
        m_player->setCornerRadius(points / 5);
        placeChildren();
    }

protected:
    void resizeEvent(QResizeEvent*) override { placeChildren(); }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        m_shadow.paint(painter, m_background->geometry());
    }

private:
    void placeChildren()
    {
        QRect area = rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
        if (!area.isValid())
            area = QRect();
        const double padding = std::isfinite(m_padding) ? std::clamp(m_padding, 0.0, 1e5) : 0;
        const QSize movieSize = m_player->movieSize();
        int inset = int(std::lround(padding));
        if (!movieSize.isEmpty()) {
            const QSize composed(int(std::lround(movieSize.width() + 2 * padding)),
                                 int(std::lround(movieSize.height() + 2 * padding)));
            area = fitted(composed, area);
            inset = int(std::lround(padding * area.width() / composed.width()));
        }
        m_background->setGeometry(area);
        QRect movie = m_background->rect().adjusted(inset, inset, -inset, -inset);
        if (!movie.isValid())
            movie = QRect(m_background->rect().center(), QSize(0, 0));
        movie = fitted(movieSize, movie);
        m_player->setGeometry(movie);
        m_videoShadow->setGeometry(m_background->rect());
        const bool shown = !m_player->movieSize().isEmpty() || !m_player->errorText().isEmpty();
        m_videoShadow->setShape(shown ? movie : QRect(), m_cornerRadius / 5);
        update();
    }

    SoftShadow m_shadow;
    double m_padding = 40;
    double m_cornerRadius = 0;
    GradientBackground* m_background;
    ShadowLayer* m_videoShadow;
    VideoPlayerView* m_player;
};

VideoEditor::VideoEditor(const QUrl& url, QWidget* parent)
    : QWidget(parent), m_preview(new VideoPreview(url, this)), m_buttonRow(new QWidget(this)),
      m_exportButton(new StandardButton(tr("Export with Background"), m_buttonRow)),
      m_notice(new ExportingNotice(this))
{
    auto* buttonLayout = new QVBoxLayout(m_buttonRow);
    buttonLayout->setContentsMargins(0, 0, 0, 20);
    buttonLayout->addWidget(m_exportButton, 0, Qt::AlignHCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 40);
    layout->addWidget(m_preview, 1);
    layout->addWidget(m_buttonRow, 0, Qt::AlignHCenter);
    layout->addWidget(m_notice, 0, Qt::AlignHCenter);
    m_notice->hide();
    connect(m_exportButton, &QPushButton::clicked, this, &VideoEditor::exportRequested);
}

void VideoEditor::setUrl(const QUrl& url)
{
    m_preview->player()->setUrl(url);
}

void VideoEditor::setStyle(const GradientStyle& style)
{
    m_preview->background()->setStyle(style);
}

void VideoEditor::setPadding(double points)
{
    m_preview->setPadding(points);
}

void VideoEditor::setCornerRadius(double points)
{
    m_preview->setCornerRadius(points);
}

void VideoEditor::setExporting(bool exporting)
{
    m_buttonRow->setVisible(!exporting);
    m_notice->setVisible(exporting);
}

GradientBackground* VideoEditor::background() const
{
    return m_preview->background();
}

VideoPlayerView* VideoEditor::player() const
{
    return m_preview->player();
}

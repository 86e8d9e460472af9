#pragma once

#include "gradient_style.h"

#include <QUrl>
#include <QWidget>

class ExportingNotice;
class GradientBackground;
class QPushButton;
class VideoPlayerView;
class VideoPreview;

// The movie's section of the editor: the movie playing on the background,
// inset by the padding, and under it either "Export with Background" or,
// while an export runs, the exporting notice.
//
// The preview is not drawn to the export's scale: the padding is shown in
// points and the movie's corners with a fifth of the radius, which the
// export measures in the movie's pixels.
class VideoEditor : public QWidget {
    Q_OBJECT

public:
    explicit VideoEditor(const QUrl& url, QWidget* parent = nullptr);

    void setUrl(const QUrl& url);
    void setStyle(const GradientStyle& style);
    void setPadding(double points);
    void setCornerRadius(double points);
    // Swaps the button for the notice and back.
    void setExporting(bool exporting);

    GradientBackground* background() const;
    VideoPlayerView* player() const;
    QPushButton* exportButton() const { return m_exportButton; }
    ExportingNotice* notice() const { return m_notice; }

Q_SIGNALS:
    void exportRequested();

private:
    VideoPreview* m_preview;
    QWidget* m_buttonRow;
    QPushButton* m_exportButton;
    ExportingNotice* m_notice;
};

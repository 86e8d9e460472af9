#pragma once

#include <QImage>
#include <QWidget>
#include <memory>

// A 100 × 60 thumbnail of the custom background picture: the picture cropped
// to fill, with rounded corners, or a grey placeholder saying "No Image".
class PicturePreview : public QWidget {
    Q_OBJECT

public:
    explicit PicturePreview(QWidget* parent = nullptr);

    const std::shared_ptr<const QImage>& picture() const { return m_picture; }
    void setPicture(std::shared_ptr<const QImage> picture);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<const QImage> m_picture;
};

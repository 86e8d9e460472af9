#pragma once

#include "soft_shadow.h"

#include <QWidget>

class QLabel;

// Shown in place of the movie's export button while an export runs: a
// spinning indicator over "Exporting video, this may take a few
// seconds...", white on a dark rounded plate with a small shadow. Its colours
// are fixed: it reads the same on a light and a dark desktop.
class ExportingNotice : public QWidget {
    Q_OBJECT

public:
    explicit ExportingNotice(QWidget* parent = nullptr);

    QString text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The plate, without the room its shadow takes around it.
    QRectF plate() const;

    QLabel* m_label;
    SoftShadow m_shadow;
};

#pragma once

#include <QWidget>

// One of the sidebar's grouped boxes: a rounded rectangle (radius 10) tinted
// with the secondary colour at 0.1 opacity, so it reads as a faint box on a
// light theme and a dark one alike. Children go in its layout; the owner
// gives it the 16 px inner padding.
class SidebarPanel : public QWidget {
    Q_OBJECT

public:
    explicit SidebarPanel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

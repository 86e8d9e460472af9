#pragma once

#include <QProxyStyle>

// The desktop's own style, with the toolbar extension arrows drawn rather
// than read from Qt's resources. Every QMenuBar asks for one as it is made,
// and reading that picture makes Qt load every image format plugin (and
// their libraries) before the main window's first frame.
class QuorvelStyle : public QProxyStyle {
    Q_OBJECT

public:
    using QProxyStyle::QProxyStyle;

    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
};

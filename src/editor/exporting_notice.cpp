#include "exporting_notice.h"

#include "busy_indicator.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <cmath>

namespace {
constexpr double kCornerRadius = 8;
// A standard indicator is 32 points; this one is shown at 0.7 of that.
constexpr double kIndicatorDiameter = 32 * 0.7;
} // namespace

ExportingNotice::ExportingNotice(QWidget* parent)
    : QWidget(parent), m_shadow(4, QColor::fromRgbF(0, 0, 0, 0.3f), QPointF(0, 2))
{
    auto* indicator = new BusyIndicator(kIndicatorDiameter, Qt::white, this);

    m_label = new QLabel(tr("Exporting video, this may take a few seconds..."), this);
    m_label->setAlignment(Qt::AlignCenter);
    QFont caption = m_label->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    m_label->setFont(caption);
    QPalette palette = m_label->palette();
    palette.setColor(QPalette::WindowText, QColor::fromRgbF(1, 1, 1, 0.9f));
    m_label->setPalette(palette);

    setAccessibleName(m_label->text());

    // Room for the shadow around the plate, then the plate's own padding.
    const int room = int(std::ceil(m_shadow.extent()));
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(8);
    layout->setContentsMargins(room + 16, room + 12, room + 16, room + 12);
    layout->addWidget(indicator, 0, Qt::AlignHCenter);
    layout->addWidget(m_label, 0, Qt::AlignHCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QString ExportingNotice::text() const
{
    return m_label->text();
}

QRectF ExportingNotice::plate() const
{
    const double room = std::ceil(m_shadow.extent());
    return QRectF(rect()).adjusted(room, room, -room, -room);
}

void ExportingNotice::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    m_shadow.paint(painter, plate(), kCornerRadius);
    QPainterPath path;
    path.addRoundedRect(plate(), kCornerRadius, kCornerRadius);
    painter.fillPath(path, QColor::fromRgbF(0, 0, 0, 0.8f));
}

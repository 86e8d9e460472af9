#include "permission_overlay.h"

#include "named_colors.h"
#include "prominent_button_style.h"
#include "secondary_button_style.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {

// A padlock in a ring, in orange: the sign that something must be allowed.
class LockCircle : public QWidget {
public:
    explicit LockCircle(QWidget* parent) : QWidget(parent)
    {
        const int side = qRound(QFontMetricsF(font()).height() * 2.4);
        setFixedSize(side, side);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal side = width();
        const qreal stroke = side * 0.07;
        painter.setPen(QPen(named_colors::orange(), stroke));
        painter.drawEllipse(QRectF(rect()).adjusted(stroke, stroke, -stroke, -stroke));

        const QRectF body(side * 0.33, side * 0.46, side * 0.34, side * 0.26);
        QPainterPath shackle;
        shackle.moveTo(body.left() + side * 0.06, body.top());
        shackle.arcTo(
            QRectF(body.left() + side * 0.06, side * 0.28, body.width() - side * 0.12, side * 0.24),
            180, -180);
        shackle.lineTo(body.right() - side * 0.06, body.top());
        painter.setPen(QPen(named_colors::orange(), stroke * 0.8, Qt::SolidLine, Qt::FlatCap));
        painter.drawPath(shackle);
        painter.setPen(Qt::NoPen);
        painter.setBrush(named_colors::orange());
        painter.drawRoundedRect(body, side * 0.04, side * 0.04);
    }
};

// A row that gives `label` up to its maximum width, centred, and lets it
// wrap to the height that width needs.
QHBoxLayout* centredRow(QLabel* label)
{
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(label, 1000);
    row->addStretch(1);
    return row;
}

} // namespace

PermissionOverlay::PermissionOverlay(QWidget* parent) : QWidget(parent)
{
    auto* icon = new LockCircle(this);

    auto* headline = new QLabel(tr("Screen Recording Permission Required"), this);
    QFont bold = headline->font();
    bold.setBold(true);
    headline->setFont(bold);
    headline->setAlignment(Qt::AlignCenter);

    auto* caption = new QLabel(tr("Please grant screen recording permission in System Preferences "
                                  "> Privacy & Security > Screen Recording"),
                               this);
    QFont small = caption->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    caption->setFont(small);
    caption->setAlignment(Qt::AlignCenter);
    caption->setWordWrap(true);
    caption->setMaximumWidth(420); // short lines read better than one across the window

    m_openSettings = new ProminentButtonStyle(tr("Open System Preferences"), this);
    m_refresh = new SecondaryButtonStyle(tr("Refresh"), this);
    // The row is only as wide as its two buttons.
    m_openSettings->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_openSettings, &QPushButton::clicked, this, &PermissionOverlay::openSettingsClicked);
    connect(m_refresh, &QPushButton::clicked, this, &PermissionOverlay::refreshClicked);

    m_note = new QLabel(this);
    m_note->setFont(small);
    m_note->setAlignment(Qt::AlignCenter);
    m_note->setWordWrap(true);
    m_note->setMaximumWidth(420);
    m_note->hide();

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch();
    buttons->addWidget(m_openSettings);
    buttons->addWidget(m_refresh);
    buttons->addStretch();

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(16, 16, 16, 16);
    stack->setSpacing(12);
    stack->addStretch();
    stack->addWidget(icon, 0, Qt::AlignHCenter);
    stack->addWidget(headline);
    stack->addLayout(centredRow(caption));
    stack->addLayout(buttons);
    stack->addLayout(centredRow(m_note));
    stack->addStretch();

    setGeometry(parent->rect());
    parent->installEventFilter(this);
}

void PermissionOverlay::showNote(const QString& text)
{
    m_note->setText(text);
    m_note->setVisible(!text.isEmpty());
}

QString PermissionOverlay::note() const
{
    return m_note->isVisible() ? m_note->text() : QString();
}

bool PermissionOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void PermissionOverlay::paintEvent(QPaintEvent*)
{
    // A thin frost of the window's own colour; the view beneath is blurred
    // by its owner, so its shapes show through without being legible.
    QPainter painter(this);
    QColor frost = palette().color(QPalette::Window);
    frost.setAlphaF(0.6f);
    painter.fillRect(rect(), frost);
}

void PermissionOverlay::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

#include "player_controls.h"

#include "play_pause_button.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>
#include <climits>

namespace {

constexpr qreal kBarRadius = 10;

// The slider drawn for the dark bar; the handle gets the accent colour's ring
// when it has keyboard focus.
const char* const kSliderStyle = R"(
QSlider::groove:horizontal { height: 4px; border-radius: 2px; background: rgba(255, 255, 255, 77); }
QSlider::sub-page:horizontal { height: 4px; border-radius: 2px; background: rgba(255, 255, 255, 230); }
QSlider::handle:horizontal { width: 12px; height: 12px; margin: -4px 0; border-radius: 6px;
                             background: white; }
QSlider::handle:horizontal:focus { width: 10px; height: 10px; margin: -5px 0; border-radius: 7px;
                                   border: 2px solid rgb(0, 122, 255); }
)";

} // namespace

PlayerControls::PlayerControls(QWidget* parent)
    : QWidget(parent), m_playPause(new PlayPauseButton(this)),
      m_position(new QSlider(Qt::Horizontal, this)), m_time(new QLabel(this))
{
    m_position->setAccessibleName(tr("Position"));
    m_position->setFocusPolicy(Qt::TabFocus);
    m_position->setStyleSheet(QString::fromLatin1(kSliderStyle));
    m_position->setRange(0, 0);

    QFont caption = font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    m_time->setFont(caption);
    QPalette textColours = m_time->palette();
    textColours.setColor(QPalette::WindowText, QColor(255, 255, 255, 230));
    m_time->setPalette(textColours);
    m_time->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 12, 4);
    layout->setSpacing(10);
    layout->addWidget(m_playPause);
    layout->addWidget(m_position, 1);
    layout->addWidget(m_time);

    connect(m_playPause, &QAbstractButton::clicked, this, &PlayerControls::playPauseClicked);
    // Dragging, clicking the groove and the arrow keys all move the value;
    // values set from the player are blocked and never come back as a seek.
    connect(m_position, &QSlider::valueChanged, this, [this](int value) {
        m_positionMs = value;
        showTime();
        Q_EMIT seekRequested(value);
    });
    showTime();
}

void PlayerControls::setPlaying(bool playing)
{
    m_playPause->setShowsPause(playing);
}

void PlayerControls::setDuration(qint64 milliseconds)
{
    m_duration = std::max<qint64>(0, milliseconds);
    const QSignalBlocker quiet(m_position);
    m_position->setMaximum(int(std::min<qint64>(m_duration, INT_MAX)));
    // An arrow press moves a tenth of the movie, between one and five seconds.
    m_position->setSingleStep(int(std::clamp<qint64>(m_duration / 10, 1000, 5000)));
    m_position->setPageStep(int(std::clamp<qint64>(m_duration / 5, 2000, 10000)));
    showTime();
}

void PlayerControls::setPosition(qint64 milliseconds)
{
    // While the handle is held the person's position wins over the player's.
    if (m_position->isSliderDown())
        return;
    m_positionMs = std::clamp<qint64>(milliseconds, 0, m_duration);
    const QSignalBlocker quiet(m_position);
    m_position->setValue(int(std::min<qint64>(m_positionMs, INT_MAX)));
    showTime();
}

QString PlayerControls::timeText() const
{
    return m_time->text();
}

QString PlayerControls::formatTime(qint64 milliseconds)
{
    const qint64 seconds = std::max<qint64>(0, milliseconds) / 1000;
    const qint64 hours = seconds / 3600;
    const qint64 minutes = seconds / 60 % 60;
    const QString rest = QStringLiteral("%1").arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (hours > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(hours)
            .arg(minutes, 2, 10, QLatin1Char('0'))
            .arg(rest);
    return QStringLiteral("%1:%2").arg(minutes).arg(rest);
}

void PlayerControls::showTime()
{
    const QString text = formatTime(m_positionMs) + QStringLiteral(" / ") + formatTime(m_duration);
    m_time->setText(text);
    m_position->setAccessibleDescription(text);
    // Room for the widest time of this movie, so the slider does not jitter.
    const QString widest = formatTime(m_duration).replace(QRegularExpression("\\d"), "0");
    m_time->setMinimumWidth(
        m_time->fontMetrics().horizontalAdvance(widest + QStringLiteral(" / ") + widest));
}

void PlayerControls::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 255, 255, 28), 1));
    painter.setBrush(QColor(20, 20, 22, 150));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kBarRadius, kBarRadius);
}

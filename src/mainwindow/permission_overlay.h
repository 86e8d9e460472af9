#pragma once

#include <QWidget>

class QLabel;
class ProminentButtonStyle;
class SecondaryButtonStyle;

// What covers the main view while we may not capture the screen: a frosted
// wash over the whole view, what to do about it, a way to the desktop's
// settings and a way to check again. It sizes itself to its parent and
// takes every click meant for what lies beneath.
class PermissionOverlay : public QWidget {
    Q_OBJECT

public:
    explicit PermissionOverlay(QWidget* parent);

    // Says where access is granted when we can't open the settings for the
    // user; an empty text hides the note.
    void showNote(const QString& text);
    QString note() const;

    ProminentButtonStyle* openSettingsButton() const { return m_openSettings; }
    SecondaryButtonStyle* refreshButton() const { return m_refresh; }

Q_SIGNALS:
    void openSettingsClicked();
    void refreshClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    ProminentButtonStyle* m_openSettings;
    SecondaryButtonStyle* m_refresh;
    QLabel* m_note;
};

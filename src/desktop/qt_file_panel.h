#pragma once

#include "file_panel.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class QFileDialog;

// The file panels as Qt's file dialogs. They are modeless: the window behind
// stays usable while one is up, and every request opens a dialog of its own.
// A dialog stacks over `parent` (its transient parent) and deletes itself once
// answered.
//
// `done` runs exactly once for a dialog the user answers, and never for one
// that goes away unanswered: when `parent` or this panel is destroyed first,
// its open dialogs close with it and their answers are dropped, so nothing
// runs against the state of a window that is gone.
class QtFilePanel : public FilePanel {
public:
    explicit QtFilePanel(QWidget* parent = nullptr);
    ~QtFilePanel() override;
    QtFilePanel(const QtFilePanel&) = delete;
    QtFilePanel& operator=(const QtFilePanel&) = delete;

    void chooseFileToOpen(const OpenRequest& request, Answer done) override;
    void chooseSaveLocation(const SaveRequest& request, Answer done) override;

    // The dialogs still waiting for an answer, oldest first.
    QList<QFileDialog*> openDialogs() const;

private:
    void showAndAnswer(QFileDialog* dialog, Answer done);

    QPointer<QWidget> m_parent;
    QList<QPointer<QFileDialog>> m_dialogs;
};

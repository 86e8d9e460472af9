#pragma once

#include "file_panel.h"

#include <QPointer>
#include <QWidget>

// The file panels as Qt's file dialogs, shown window-modal over `parent`
// (or application-modal without one) with open(), so the caller's event
// loop keeps running. Each dialog deletes itself once answered.
class QtFilePanel : public FilePanel {
public:
    explicit QtFilePanel(QWidget* parent = nullptr);

    void chooseFileToOpen(const OpenRequest& request, Answer done) override;
    void chooseSaveLocation(const SaveRequest& request, Answer done) override;

private:
    QPointer<QWidget> m_parent;
};

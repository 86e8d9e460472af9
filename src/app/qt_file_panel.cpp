#include "qt_file_panel.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {

// Answers `done` exactly once, whichever way the dialog closes.
void showAndAnswer(QFileDialog* dialog, FilePanel::Answer done)
{
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QFileDialog::finished, dialog,
                     [dialog, done = std::move(done)](int result) {
                         const QStringList chosen = dialog->selectedFiles();
                         if (result == QDialog::Accepted && !chosen.isEmpty())
                             done(chosen.constFirst());
                         else
                             done(std::nullopt);
                     });
    dialog->open();
}

} // namespace

QtFilePanel::QtFilePanel(QWidget* parent) : m_parent(parent) {}

void QtFilePanel::chooseFileToOpen(const OpenRequest& request, Answer done)
{
    auto* dialog = new QFileDialog(m_parent);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilters(request.nameFilters);
    if (!request.prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, request.prompt);
    showAndAnswer(dialog, std::move(done));
}

void QtFilePanel::chooseSaveLocation(const SaveRequest& request, Answer done)
{
    // Overwrite confirmation is QFileDialog's default for AcceptSave.
    auto* dialog = new QFileDialog(m_parent);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilters(request.nameFilters);
    dialog->selectFile(request.proposedName);
    // A name typed without its extension still gets the type's own.
    dialog->setDefaultSuffix(QFileInfo(request.proposedName).suffix());
    showAndAnswer(dialog, std::move(done));
}

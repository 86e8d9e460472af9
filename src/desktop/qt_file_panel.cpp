#include "qt_file_panel.h"

#include <QFileDialog>
#include <QFileInfo>

QtFilePanel::QtFilePanel(QWidget* parent) : m_parent(parent) {}

QtFilePanel::~QtFilePanel()
{
    // Unanswered dialogs go with the panel; the answers they hold capture
    // state that dies with it.
    for (const QPointer<QFileDialog>& dialog : std::as_const(m_dialogs)) {
        if (!dialog)
            continue;
        QObject::disconnect(dialog, &QDialog::finished, nullptr, nullptr);
        delete dialog.data();
    }
}

QList<QFileDialog*> QtFilePanel::openDialogs() const
{
    QList<QFileDialog*> open;
    for (const QPointer<QFileDialog>& dialog : m_dialogs)
        if (dialog)
            open.append(dialog);
    return open;
}

void QtFilePanel::showAndAnswer(QFileDialog* dialog, Answer done)
{
    m_dialogs.append(dialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::NonModal);
    // A dialog is answered once; a later finished() (a second close) is ignored.
    // The panel deletes its dialogs as it goes, so `this` outlives the answer.
    QObject::connect(dialog, &QFileDialog::finished, dialog,
                     [this, dialog, done = std::move(done)](int result) mutable {
                         if (!done)
                             return;
                         m_dialogs.removeAll(dialog);
                         const Answer answer = std::exchange(done, nullptr);
                         const QStringList chosen = dialog->selectedFiles();
                         if (result == QDialog::Accepted && !chosen.isEmpty())
                             answer(chosen.constFirst());
                         else
                             answer(std::nullopt);
                     });
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

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

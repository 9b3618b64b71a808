#include "window/widgets/QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace vx {

BoxResult QtDialogs::showBox(const Box &box)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (box.icon) {
    case BoxIcon::None: icon = QMessageBox::NoIcon; break;
    case BoxIcon::Information: icon = QMessageBox::Information; break;
    case BoxIcon::Warning: icon = QMessageBox::Warning; break;
    case BoxIcon::Critical: icon = QMessageBox::Critical; break;
    }
    const auto buttons = box.buttons == BoxButtons::OkCancel
        ? QMessageBox::Ok | QMessageBox::Cancel
        : QMessageBox::StandardButtons(QMessageBox::Ok);
    QMessageBox mb(icon, box.title, box.text, buttons, m_parent);
    if (box.cancelIsDefault && box.buttons == BoxButtons::OkCancel)
        mb.setDefaultButton(QMessageBox::Cancel);
    return mb.exec() == QMessageBox::Ok ? BoxResult::Ok : BoxResult::Cancel;
}

QString QtDialogs::askSaveFileName(const FileRequest &request)
{
    // The overwrite prompt is QFileDialog's default.
    return QFileDialog::getSaveFileName(m_parent, request.title, request.directory, request.filter);
}

QString QtDialogs::askOpenFileName(const FileRequest &request)
{
    // QFileDialog only returns existing files here and leaves the working directory alone.
    return QFileDialog::getOpenFileName(m_parent, request.title, request.directory, request.filter);
}

} // namespace vx

#pragma once

#include "core/platform/Dialogs.h"

#include <QPointer>
#include <QWidget>

namespace vx {

// Dialogs on QMessageBox and QFileDialog.
class QtDialogs : public Dialogs {
public:
    using Dialogs::Dialogs;
    void setParentWidget(QWidget *parent) { m_parent = parent; }

protected:
    BoxResult showBox(const Box &box) override;
    QString askSaveFileName(const FileRequest &request) override;
    QString askOpenFileName(const FileRequest &request) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace vx

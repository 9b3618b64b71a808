#include "core/platform/Dialogs.h"

namespace vx {

BoxResult Dialogs::message(const Box &box)
{
    if (m_gate.isOpen())
        return BoxResult::Suppressed;
    Box shown = box;
    if (shown.title.isEmpty())
        shown.title = m_appTitle;
    ModalScope scope(m_gate);
    return showBox(shown);
}

QString Dialogs::saveFileName(const FileRequest &request)
{
    if (m_gate.isOpen())
        return {};
    ModalScope scope(m_gate);
    return askSaveFileName(request);
}

QString Dialogs::openFileName(const FileRequest &request)
{
    if (m_gate.isOpen())
        return {};
    ModalScope scope(m_gate);
    return askOpenFileName(request);
}

} // namespace vx

#include "FakeDialogs.h"

#include "window/frmMain.h"

namespace vx::test {

FakeDialogs::FakeDialogs() : Dialogs(kWindowTitle()) {}

QStringList FakeDialogs::texts() const
{
    QStringList list;
    for (const Box &b : boxes)
        list << b.text;
    return list;
}

BoxResult FakeDialogs::showBox(const Box &box)
{
    boxes.append(box);
    if (whileOpen)
        whileOpen(box);
    return answer;
}

QString FakeDialogs::askSaveFileName(const FileRequest &request)
{
    saveRequests.append(request);
    return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
}

QString FakeDialogs::askOpenFileName(const FileRequest &request)
{
    openRequests.append(request);
    return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
}

} // namespace vx::test

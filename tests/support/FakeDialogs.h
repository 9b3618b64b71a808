#pragma once

#include "core/platform/Dialogs.h"

#include <QList>
#include <QStringList>

#include <functional>

namespace vx::test {

// Dialogs answered by the test: boxes are recorded and answered at once,
// file dialogs return the queued answers (empty: cancelled).
class FakeDialogs : public Dialogs {
public:
    FakeDialogs();

    QList<Box> boxes;
    BoxResult answer = BoxResult::Ok;
    // Runs while a box is "open", e.g. to fire timer ticks meanwhile.
    std::function<void(const Box &)> whileOpen;

    QStringList saveAnswers;
    QStringList openAnswers;
    QList<FileRequest> saveRequests;
    QList<FileRequest> openRequests;

    QStringList texts() const;
    QString lastText() const { return boxes.isEmpty() ? QString() : boxes.last().text; }

protected:
    BoxResult showBox(const Box &box) override;
    QString askSaveFileName(const FileRequest &request) override;
    QString askOpenFileName(const FileRequest &request) override;
};

} // namespace vx::test

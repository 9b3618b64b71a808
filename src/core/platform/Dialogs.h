#pragma once

#include "core/platform/ModalGate.h"

#include <QString>

namespace vx {

enum class BoxIcon { None, Information, Warning, Critical };
enum class BoxButtons { Ok, OkCancel };
enum class BoxResult { Ok, Cancel, Suppressed };

struct Box {
    QString text;
    QString title; // empty: the application's title
    BoxIcon icon = BoxIcon::None;
    BoxButtons buttons = BoxButtons::Ok;
    bool cancelIsDefault = false; // Enter (and a box closed unread) means Cancel
};

struct FileRequest {
    QString title;
    QString directory;
    QString filter;    // Qt filter syntax, e.g. "txt (*.txt)"
};

// Message boxes and file dialogs. Every box is modal; while one is open a
// further box is dropped (timer ticks would otherwise stack one per tick).
class Dialogs {
public:
    explicit Dialogs(QString appTitle) : m_appTitle(std::move(appTitle)) {}
    virtual ~Dialogs() = default;

    const QString &appTitle() const { return m_appTitle; }
    ModalGate &gate() { return m_gate; }

    BoxResult message(const Box &box);
    BoxResult message(const QString &text) { return message(Box{text, {}, BoxIcon::None, BoxButtons::Ok}); }

    // Empty when the operator cancels.
    QString saveFileName(const FileRequest &request);
    QString openFileName(const FileRequest &request);

protected:
    virtual BoxResult showBox(const Box &box) = 0; // title already filled in
    virtual QString askSaveFileName(const FileRequest &request) = 0;
    virtual QString askOpenFileName(const FileRequest &request) = 0;

private:
    QString m_appTitle;
    ModalGate m_gate;
};

} // namespace vx

#pragma once

#include "FakeDialogs.h"
#include "FakeSerialPort.h"
#include "core/frames/Crc16.h"
#include "core/frames/HexText.h"
#include "core/records/NumberText.h"
#include "window/frmMain.h"

#include <QByteArray>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace vx::test {

// The real window on a fake port, answered dialogs, a fixed clock and a
// program directory of its own.
class TestWindow {
public:
    struct Options {
        QByteArray commSet = "1,9600\r\n"; // empty: no comm.set
        bool portOpenable = true;
        // Runs on the program directory before the window starts (special files, links).
        std::function<void(const QString &dir)> prepare;
        // Viewer mode on this store (a path or URL); empty: the usual window.
        QString viewerStore;
    };

    TestWindow();
    explicit TestWindow(const Options &options);
    ~TestWindow();

    frmMain &w() { return *m_window; }
    FakeSerialPort &port() { return *m_port; }
    FakeDialogs &dialogs() { return *m_dialogs; }
    FormState &form() { return m_window->form(); }
    QString dir() const { return m_dir.path(); }
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(8, 30, 5));

    template <class T> T *find(const QString &name) const
    {
        T *child = m_window->findChild<T *>(name);
        if (!child)
            qFatal("no control named %s", qPrintable(name));
        return child;
    }
    QLineEdit *box(const QString &name) const;
    QLabel *label(const QString &name) const;
    QString text(const QString &name) const; // line edit, label or plain text
    void setText(const QString &name, const QString &text);
    void click(const QString &buttonName);

    // Delivers bytes as received and lets the receive event run.
    void receive(const QByteArray &bytes);
    // A single query of `address` for as many registers as given, answered with them.
    void queryAnswered(int address, const QList<quint16> &registers);
    QByteArray written() const { return m_port->lastWritten(); }
    QString fileText(const QString &name) const;

private:
    QTemporaryDir m_dir;
    FakeSerialPort *m_port = nullptr;
    FakeDialogs *m_dialogs = nullptr;
    std::unique_ptr<frmMain> m_window;
};

} // namespace vx::test

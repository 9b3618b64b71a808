#include "TestWindow.h"

#include "Frames.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace vx::test {

TestWindow::TestWindow() : TestWindow(Options{}) {}

TestWindow::TestWindow(const Options &options)
{
    if (!options.commSet.isEmpty()) {
        QFile f(m_dir.filePath(QStringLiteral("comm.set")));
        if (f.open(QIODevice::WriteOnly))
            f.write(options.commSet);
    }
    if (options.prepare)
        options.prepare(m_dir.path());
    Platform p;
    auto port = std::make_unique<FakeSerialPort>();
    port->openable = options.portOpenable;
    auto dialogs = std::make_unique<FakeDialogs>();
    m_port = port.get();
    m_dialogs = dialogs.get();
    p.port = std::move(port);
    p.dialogs = std::move(dialogs);
    p.clock = [this] { return now; };
    p.programDir = m_dir.path();
    p.viewerStore = options.viewerStore;
    m_window = std::make_unique<frmMain>(std::move(p));
}

TestWindow::~TestWindow() = default;

QLineEdit *TestWindow::box(const QString &name) const
{
    return find<QLineEdit>(name);
}

QLabel *TestWindow::label(const QString &name) const
{
    return find<QLabel>(name);
}

QString TestWindow::text(const QString &name) const
{
    QObject *o = m_window->findChild<QObject *>(name);
    if (auto *e = qobject_cast<QLineEdit *>(o))
        return e->text();
    if (auto *l = qobject_cast<QLabel *>(o))
        return l->text();
    if (auto *p = qobject_cast<QPlainTextEdit *>(o))
        return p->toPlainText();
    if (auto *t = qobject_cast<QTextEdit *>(o))
        return t->toPlainText();
    qFatal("no text control named %s", qPrintable(name));
}

void TestWindow::setText(const QString &name, const QString &text)
{
    box(name)->setText(text);
}

void TestWindow::click(const QString &buttonName)
{
    find<QAbstractButton>(buttonName)->click();
}

void TestWindow::receive(const QByteArray &bytes)
{
    m_port->feed(bytes);
    QCoreApplication::processEvents();
}

QString TestWindow::fileText(const QString &name) const
{
    QFile f(m_dir.filePath(name));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

} // namespace vx::test

namespace vx::test {

void TestWindow::queryAnswered(int address, const QList<quint16> &registers)
{
    setText(QStringLiteral("txtStationID"), QString::number(address));
    setText(QStringLiteral("txtDataLength"), QString::number(registers.size()));
    click(QStringLiteral("comDoOnce"));
    receive(replyFrame(quint8(address), registers));
}

} // namespace vx::test

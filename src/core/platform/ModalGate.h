#pragma once

#include <QObject>
#include <QTimer>

namespace vx {

// Open while a modal box or file dialog runs its own event loop. Handlers
// that must not run inside another handler (the receive event) wait for it.
class ModalGate : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool isOpen() const { return m_depth > 0; }
    void enter() { ++m_depth; }
    void leave()
    {
        if (m_depth > 0 && --m_depth == 0)
            emit released();
    }

signals:
    void released();

private:
    int m_depth = 0;
};

// Holds the gate open for the lifetime of a scope.
class ModalScope {
public:
    explicit ModalScope(ModalGate &gate) : m_gate(gate) { m_gate.enter(); }
    ~ModalScope() { m_gate.leave(); }
    ModalScope(const ModalScope &) = delete;
    ModalScope &operator=(const ModalScope &) = delete;

private:
    ModalGate &m_gate;
};

// Connects a timer to its tick handler. A tick that falls while a box is open
// is skipped: ticks, like the receive event, never run inside another
// handler, so they neither stack boxes nor send a request that would discard
// a reply still waiting for the box to close.
template <class Handler>
void connectTick(QTimer *timer, QObject *context, const ModalGate &gate, Handler handler)
{
    QObject::connect(timer, &QTimer::timeout, context, [&gate, handler] {
        if (!gate.isOpen())
            handler();
    });
}

} // namespace vx

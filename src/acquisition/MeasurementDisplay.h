#pragma once

#include "core/FormState.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <functional>

class QLabel;

namespace vx {

class RecordFiles;
class StoreService;
struct FormState;
struct ValueGrid;

// Shows accepted measurement frames: values in the replying device's column
// (points 1 to 18 only), its reply counter and time, the total of accepted
// replies, and one record in that device's data log (every decoded value).
class MeasurementDisplay {
public:
    MeasurementDisplay(ValueGrid &grid, QLabel *lblErrCounter, FormState &form, RecordFiles &records,
                       QString programDir);

    // One frame that passed the address, function-code and CRC checks, and
    // when it arrived (its time in the column and the data log).
    void show(const QByteArray &frame, const QDateTime &arrived);

    // Every frame shown is stored too (none when null).
    void setStore(StoreService *store) { m_store = store; }
    // And handed on (the overview, the alarms): address, registers, arrival in UTC ms.
    using FrameListener = std::function<void(int address, const QList<quint16> &registers, qint64 timeMs)>;
    void setFrameListener(FrameListener listener) { m_listener = std::move(listener); }

    QString dataDir() const { return m_dataDir; }
    QString logPath(int address) const;

private:
    ValueGrid &m_grid;
    QLabel *m_lblErrCounter;
    FormState &m_form;
    RecordFiles &m_records;
    QString m_dataDir;
    StoreService *m_store = nullptr;
    FrameListener m_listener;
    mutable std::array<QString, kMaxReplyAddress> m_logPaths;
};

} // namespace vx

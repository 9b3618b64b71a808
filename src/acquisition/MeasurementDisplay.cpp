#include "acquisition/MeasurementDisplay.h"

#include "acquisition/Measurement.h"
#include "acquisition/QueryController.h"
#include "core/FormState.h"
#include "core/Records.h"
#include "store/StoreService.h"
#include "ui/ValueGrid.h"

#include <QDir>
#include <QLabel>

namespace vx {

MeasurementDisplay::MeasurementDisplay(ValueGrid &grid, QLabel *lblErrCounter, FormState &form,
                                       RecordFiles &records, QString programDir)
    : m_grid(grid), m_lblErrCounter(lblErrCounter), m_form(form), m_records(records),
      m_dataDir(QDir(programDir).filePath(QStringLiteral("data")))
{
}

QString MeasurementDisplay::logPath(int address) const
{
    if (address >= 1 && address <= kMaxReplyAddress) { // built once each: this runs for every frame
        QString &path = m_logPaths[std::size_t(address - 1)];
        if (path.isEmpty())
            path = m_dataDir + QLatin1Char('/') + QString::number(address) + QStringLiteral(".txt");
        return path;
    }
    return m_dataDir + QLatin1Char('/') + QString::number(address) + QStringLiteral(".txt");
}

void MeasurementDisplay::show(const QByteArray &frame, const QDateTime &arrived)
{
    const int a = quint8(frame.at(0)); // 1..36, checked with the frame
    const int column = a - 1;
    const QDateTime &now = arrived;
    m_grid.lblRCounter[column]->setText(QString::number(++m_form.RecCount[column]));
    m_grid.LBLrecTime[column]->setText(longTime(now.time()));
    incrementCaption(m_lblErrCounter);

    // As many registers as the frame carries.
    const QList<quint16> registers = decodeRegisters(frame, int(frame.size()));
    const QStringList texts = valueTexts(registers);
    // Points 1 to 18 belong to this device; later registers are logged only,
    // never written into the next device's column.
    const int shown = qMin<int>(registers.size(), kPointsPerDevice);
    for (int k = 0; k < shown; ++k) {
        if (registers[k] != kNoReading)
            m_grid.showValue(ValueGrid::boxIndex(a, k + 1), texts[k]);
    }

    m_records.append(logPath(a), dataLogRecord(now, texts));
    if (!m_store && !m_listener)
        return;
    const qint64 epochMs = now.toMSecsSinceEpoch(); // a mktime() each time: asked once
    if (m_store)
        m_store->add({epochMs, a, registers});
    if (m_listener)
        m_listener(a, registers, epochMs);
}

} // namespace vx

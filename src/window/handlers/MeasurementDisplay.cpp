#include "window/handlers/MeasurementDisplay.h"

#include "core/form/FormState.h"
#include "core/frames/Measurement.h"
#include "core/pipeline/ReadingPipeline.h"
#include "core/records/Records.h"
#include "window/handlers/GridView.h"
#include "window/handlers/QueryController.h"

#include <QLabel>

namespace vx {

MeasurementDisplay::MeasurementDisplay(GridView &grid, QLabel *lblErrCounter, FormState &form, ReadingPipeline &pipeline)
    : m_grid(grid), m_lblErrCounter(lblErrCounter), m_form(form), m_pipeline(pipeline)
{
}

void MeasurementDisplay::show(const QByteArray &frame, const QDateTime &arrived)
{
    const int a = quint8(frame.at(0)); // 1..36, checked with the frame
    const int column = a - 1;
    // As many registers as the frame carries.
    const QList<quint16> registers = decodeRegisters(frame, int(frame.size()));
    const QStringList texts = valueTexts(registers);
    // The data log, the store and the overview first: what is shown has been kept.
    m_pipeline.accept({arrived.toMSecsSinceEpoch(), a, registers}, arrived, &texts);

    m_grid.setReplyCount(column, QString::number(++m_form.RecCount[column]));
    m_grid.setReplyTime(column, longTime(arrived.time()));
    incrementCaption(m_lblErrCounter);
    // Points 1 to 18 belong to this device; later registers are logged only,
    // never written into the next device's column.
    const int shown = qMin<int>(registers.size(), kPointsPerDevice);
    for (int k = 0; k < shown; ++k) {
        if (registers[k] != kNoReading)
            m_grid.showValue(gridIndex(a, k + 1), texts[k]);
    }
}

} // namespace vx

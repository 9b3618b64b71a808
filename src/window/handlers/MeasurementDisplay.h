#pragma once

#include "core/form/FormState.h"

#include <QDateTime>
#include <QString>


class QLabel;

namespace vx {

class GridView;
class ReadingPipeline;
struct FormState;

// Takes accepted measurement frames: each goes down the readings pipeline
// (the device's data log with every decoded value, the store, the rules, the
// overview), then shows in the replying device's column (points 1 to 18
// only) with its reply counter and time, and the total of accepted replies.
class MeasurementDisplay {
public:
    MeasurementDisplay(GridView &grid, QLabel *lblErrCounter, FormState &form, ReadingPipeline &pipeline);

    // One frame that passed the address, function-code and CRC checks, and
    // when it arrived (its time in the column and the data log).
    void show(const QByteArray &frame, const QDateTime &arrived);

private:
    GridView &m_grid;
    QLabel *m_lblErrCounter;
    FormState &m_form;
    ReadingPipeline &m_pipeline;
};

} // namespace vx

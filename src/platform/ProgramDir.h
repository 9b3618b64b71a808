#pragma once

#include <QString>

namespace vx {

// Where comm.set, dataGet.txt, data/ and txt/ live: the directory named by
// VXMON_HOME, else the executable's directory.
QString programDirectory();

} // namespace vx

#pragma once

#include <QString>

namespace vx {

// Where comm.set, dataGet.txt, data/ and txt/ live: the directory named by
// VXMON_HOME, else the executable's directory, else (an installed program in
// /usr/bin, which a user cannot write) ~/.local/share/vxmon.
QString programDirectory();

} // namespace vx

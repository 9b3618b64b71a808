#include "core/platform/LocalTime.h"

#include <cstdlib>
#include <ctime>
#include <sys/stat.h>

namespace vx {

void readLocalTimeZoneOnce()
{
    constexpr const char *kZoneFile = "/etc/localtime";
    struct stat st {};
    if (std::getenv("TZ") || ::stat(kZoneFile, &st) != 0)
        return; // set by the user, or no zone file: the library's default (UTC) either way
    ::setenv("TZ", ":/etc/localtime", 0);
    ::tzset();
}

} // namespace vx

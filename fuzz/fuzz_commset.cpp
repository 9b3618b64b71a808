// The comm.set reader on any bytes.
#include "FuzzInput.h"
#include "core/link/CommSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    const vx::CommSetRead read = vx::parseCommSet(content);
    if (read.status == vx::CommSetStatus::Ok) {
        // What is read writes back to a file that reads the same.
        const vx::CommSetRead again = vx::parseCommSet(vx::formatCommSet(read.settings));
        FUZZ_ASSERT(again.status == vx::CommSetStatus::Ok);
        FUZZ_ASSERT(again.settings.CommNum == read.settings.CommNum);
        FUZZ_ASSERT(again.settings.CommRate == read.settings.CommRate);
    }
    return 0;
}

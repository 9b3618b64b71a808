// The number-text rules on any text.
#include "FuzzInput.h"
#include "core/records/NumberText.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    const qint32 hundredths = qint32(uint32_t(in.u16()) << 16 | in.u16());
    const QByteArray bytes = in.rest();
    const QString text = QString::fromUtf8(bytes);
    namespace num = vx::num;

    const auto value = num::numericValue(text);
    FUZZ_ASSERT(value.has_value() == num::IsNumeric(text));
    const double leading = num::Val(text);
    FUZZ_ASSERT(std::isfinite(leading));
    if (value) {
        FUZZ_ASSERT(std::isfinite(*value));
        FUZZ_ASSERT(leading == *value); // a numeric text is all leading number
        const double whole = num::wholePart(*value);
        FUZZ_ASSERT(whole <= *value && *value - whole <= 1.0); // tiny negatives: 1 - 4e-51 rounds to 1
        const double even = num::roundHalfEven(*value);
        FUZZ_ASSERT(std::fabs(even - *value) <= 0.5);
        if (const auto b = num::byteOf(whole))
            FUZZ_ASSERT(double(*b) == whole);
    }
    const QString two = num::twoDigitsText(text);
    if (!value)
        FUZZ_ASSERT(two == text);
    // "#0.00" text reads back as the same number of hundredths.
    const QString fixed = num::hundredthsText(hundredths);
    const auto back = num::numericValue(fixed);
    FUZZ_ASSERT(back && std::llround(*back * 100.0) == hundredths);
    return 0;
}

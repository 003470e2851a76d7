#include "common/Runtime.h"

#include "common/TextRules.h"

#include <cmath>

namespace velmar {

void WaitMs(Runtime& runtime, double ms) {
    const double rounded = text::roundHalfEven(ms);
    const std::int64_t slices = rounded > 0 && std::isfinite(rounded)
                                    ? static_cast<std::int64_t>(rounded) / 100
                                    : 0;
    for (std::int64_t i = 0; i < slices; ++i) {
        runtime.sleepServing(100);
    }
}

} // namespace velmar

#include "convert/ConverterSettings.h"

#include "common/TextRules.h"

namespace velmar {

std::int16_t ConverterSettings::descriptionLength() const {
    if (!text::isNumeric(maxDescrLen)) {
        return 30;
    }
    return text::toInt16(text::leadingNumber(maxDescrLen));
}

} // namespace velmar

#include "link/EcrFamily.h"

#include <array>

namespace velmar {

namespace {

const std::array<EcrFamily, 7> kFamilies{{
    {0, false, {}, false},
    {1, false, "Y", true},
    {2, false, {}, false},
    {3, false, "89F", false},
    {4, false, {}, false},
    {5, true, {}, false},
    {6, true, "89F", false},
}};

} // namespace

const EcrFamily& ecrFamily(int index) {
    return kFamilies[static_cast<std::size_t>(index >= 0 && index < 7 ? index : 0)];
}

} // namespace velmar

// Compiled only by the layers_* tests, in the include context of one layer:
// first a header of that layer, which must be found, then a header of a
// layer above it, which must not be (see tests/CMakeLists.txt).
#include VELMAR_OWN_HEADER
#include VELMAR_UPWARD_HEADER

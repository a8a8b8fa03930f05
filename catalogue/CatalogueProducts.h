// The products of a resolution catalogue, each with a catalogue of its own camera, in
// one walk: a lookup (SMResolutionInfo) in the whole catalogue walks all its cameras,
// so asking about every product of a large catalogue that way is quadratic (190k
// cameras took minutes); asking each in its own catalogue is linear. A product listed
// twice answers from its first camera, as a lookup in the whole catalogue does.
// Pure function of the tree; any thread.
#pragma once

#include <orva/Value.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace orva {

class CatalogueProducts {
public:
    // Every camera with a PID, in catalogue order, with the catalogue to look it up in.
    static std::vector<std::pair<uint32_t, Value>> of(const Value& root);
};

} // namespace orva

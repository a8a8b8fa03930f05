#include "catalogue/CatalogueProducts.h"

#include <orva/Number.h>

#include <unordered_map>

namespace orva {

namespace {

Value catalogueOf(const Value& camera)
{
    Value resolutions = Value::makeTable();
    resolutions.set("Camera", camera);
    Value catalogue = Value::makeTable();
    catalogue.set("Resolutions", resolutions);
    return catalogue;
}

} // namespace

std::vector<std::pair<uint32_t, Value>> CatalogueProducts::of(const Value& root)
{
    std::vector<std::pair<uint32_t, Value>> products;
    Value cameras = root.get("Resolutions").get("Camera");
    if (cameras.isTable()) { // a catalogue of one camera
        Value one = Value::makeList();
        one.append(cameras);
        cameras = one;
    }
    std::unordered_map<uint32_t, size_t> first; // product -> its first place in `products`
    for (size_t i = 0; i < cameras.count(); ++i) {
        const Value camera = cameras.at(i);
        const Value id = camera.get("PID");
        if (!id.number()) continue;
        const auto product = static_cast<uint32_t>(id.number()->integerValue());
        const auto [at, isNew] = first.emplace(product, products.size());
        products.emplace_back(product, isNew ? catalogueOf(camera) : products[at->second].second);
    }
    return products;
}

} // namespace orva

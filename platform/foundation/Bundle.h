// Bundles: folders of resources looked up by name and type. The host's main bundle
// is the Resources folder beside the running executable; the component's own bundle
// is the Resources folder beside liborva.so. Either can be redirected (hosts that
// keep resources elsewhere, tests). Lookups are cheap and thread-safe; the override
// setters are meant for start-up.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace orva {

class Bundle {
public:
    static std::shared_ptr<Bundle> mainBundle();
    static std::shared_ptr<Bundle> componentBundle();
    // A folder to use instead of the default; null restores the default.
    static void setMainBundleResourcePath(std::optional<std::string> folder);
    static void setComponentBundleResourcePath(std::optional<std::string> folder);

    explicit Bundle(std::string resourcePath) : mResourcePath(std::move(resourcePath)) {}
    const std::string& resourcePath() const { return mResourcePath; }
    // "<folder>/<name>.<type>" when that file exists.
    [[nodiscard]] std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const;

private:
    std::string mResourcePath;
};

} // namespace orva

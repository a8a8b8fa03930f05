#include "platform/foundation/Bundle.h"

#include <dlfcn.h>
#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

namespace orva {

namespace {
std::mutex gMutex;
std::optional<std::string> gMainOverride, gComponentOverride;

std::string executableResources()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("Resources") : (exe.parent_path() / "Resources").string();
}

std::string componentResources()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&componentResources), &info) != 0 && info.dli_fname) {
        std::error_code ec;
        const fs::path lib = fs::weakly_canonical(info.dli_fname, ec);
        return ((ec ? fs::path(info.dli_fname) : lib).parent_path() / "Resources").string();
    }
    return "Resources";
}
} // namespace

std::shared_ptr<Bundle> Bundle::mainBundle()
{
    std::lock_guard lock(gMutex);
    return std::make_shared<Bundle>(gMainOverride ? *gMainOverride : executableResources());
}

std::shared_ptr<Bundle> Bundle::componentBundle()
{
    std::lock_guard lock(gMutex);
    return std::make_shared<Bundle>(gComponentOverride ? *gComponentOverride : componentResources());
}

void Bundle::setMainBundleResourcePath(std::optional<std::string> folder)
{
    std::lock_guard lock(gMutex);
    gMainOverride = std::move(folder);
}

void Bundle::setComponentBundleResourcePath(std::optional<std::string> folder)
{
    std::lock_guard lock(gMutex);
    gComponentOverride = std::move(folder);
}

std::optional<std::string> Bundle::pathForResource(const std::string& name, const std::string& type) const
{
    if (name.empty()) return std::nullopt;
    const fs::path p = fs::path(mResourcePath) / (type.empty() ? name : name + "." + type);
    std::error_code ec;
    if (!fs::is_regular_file(p, ec)) return std::nullopt;
    return p.string();
}

} // namespace orva

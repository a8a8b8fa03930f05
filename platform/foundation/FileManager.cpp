#include "platform/foundation/FileManager.h"

#include <cstdlib>
#include <filesystem>
#include <sys/statvfs.h>

namespace fs = std::filesystem;

namespace orva {

FileManager& FileManager::defaultManager()
{
    static FileManager manager;
    return manager;
}

bool FileManager::moveItemAtPath(const std::string& path, const std::string& toPath, std::string* error)
{
    std::error_code ec;
    if (fs::exists(fs::symlink_status(toPath, ec))) {
        if (error) *error = "\"" + toPath + "\" already exists";
        return false;
    }
    fs::rename(path, toPath, ec);
    if (ec == std::errc::cross_device_link) {
        ec.clear();
        fs::copy_file(path, toPath, ec);
        if (!ec) fs::remove(path, ec);
    }
    if (ec) {
        if (error) *error = "cannot move \"" + path + "\" to \"" + toPath + "\": " + ec.message();
        return false;
    }
    return true;
}

bool FileManager::removeItemAtPath(const std::string& path, std::string* error)
{
    std::error_code ec;
    if (!fs::remove(path, ec)) {
        if (error) *error = ec ? ec.message() : "no such file";
        return false;
    }
    return true;
}

bool FileManager::fileExistsAtPath(const std::string& path) const
{
    std::error_code ec;
    return fs::exists(path, ec);
}

std::string FileManager::temporaryDirectory() const
{
    std::error_code ec;
    if (const char* dir = std::getenv("TMPDIR"); dir && *dir && fs::is_directory(dir, ec)) {
        std::string s = dir;
        while (s.size() > 1 && s.back() == '/') s.pop_back();
        return s;
    }
    return "/tmp";
}

std::optional<uint64_t> FileManager::freeSpace(const std::string& path) const
{
    struct statvfs st{};
    if (statvfs(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

} // namespace orva

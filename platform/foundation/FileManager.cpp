#include "platform/foundation/FileManager.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orva {

namespace {

// Working files handed from the one who made them to the writer that fills them
// (path -> descriptor, its lock held).
struct HandedFiles {
    std::mutex mutex;
    std::map<std::string, int> files;
};

HandedFiles& handedFiles()
{
    static HandedFiles h;
    return h;
}

constexpr const char* kWorkingSuffix = ".recording";

// The process's umask, read without changing it (umask(2) would, for every thread).
mode_t processUmask()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    return 022;
}

} // namespace

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
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        if (error) *error = "not a regular file";
        return false;
    }
    if (::unlink(path.c_str()) != 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    return true;
}

namespace {

std::string notRegularReason(const std::string& path, mode_t mode)
{
    const char* what = S_ISDIR(mode) ? "a folder" : S_ISFIFO(mode) ? "a pipe" : S_ISSOCK(mode) ? "a socket"
                       : (S_ISCHR(mode) || S_ISBLK(mode)) ? "a device" : "not a regular file";
    return "\"" + path + "\" is " + what + ", not a file";
}

std::string megabytes(uint64_t bytes)
{
    return bytes >= (1u << 20) ? std::to_string(bytes >> 20) + " MB" : std::to_string(bytes) + " bytes";
}

} // namespace

std::optional<std::string> FileManager::readRegularFile(const std::string& path, uint64_t maximumBytes,
                                                        std::string* error) const
{
    auto fail = [&](std::string reason) -> std::optional<std::string> {
        if (error) *error = std::move(reason);
        return std::nullopt;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return fail("cannot read \"" + path + "\": " + std::strerror(errno));
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st{};
    if (::fstat(fd, &st) != 0) return fail("cannot read \"" + path + "\": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return fail(notRegularReason(path, st.st_mode));
    if (static_cast<uint64_t>(st.st_size) > maximumBytes)
        return fail("\"" + path + "\" is larger than " + megabytes(maximumBytes));
    std::string bytes;
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t at = 0;
    while (true) {
        if (at == bytes.size()) {
            if (bytes.size() >= maximumBytes + 1) break;
            bytes.resize(std::min<uint64_t>(maximumBytes + 1, bytes.size() + 65536)); // a file that grew
        }
        const ssize_t n = ::read(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail("cannot read \"" + path + "\": " + std::strerror(errno));
        if (n == 0) break;
        at += static_cast<size_t>(n);
    }
    if (at > maximumBytes) return fail("\"" + path + "\" is larger than " + megabytes(maximumBytes));
    bytes.resize(at);
    return bytes;
}

bool FileManager::isRegularFile(const std::string& path, std::string* error) const
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        if (error) *error = "cannot read \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    if (S_ISREG(st.st_mode)) return true;
    if (error) *error = notRegularReason(path, st.st_mode);
    return false;
}

bool FileManager::fileExistsAtPath(const std::string& path) const
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

std::optional<uint64_t> FileManager::freeSpace(const std::string& path) const
{
    struct statvfs st{};
    if (statvfs(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

int FileManager::createWorkingFile(const std::string& destination, std::string* path, std::string* error) const
{
    const fs::path target(destination);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const std::string name = target.filename().string();
    for (int n = 1; n <= 100; ++n) {
        const std::string candidate =
            (folder / ("." + name + (n == 1 ? "" : "." + std::to_string(n)) + kWorkingSuffix)).string();
        const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            // Held while this process writes it: the leftover scan passes it by.
            (void)::flock(fd, LOCK_EX | LOCK_NB);
            if (path) *path = candidate;
            return fd;
        }
        if (errno != EEXIST) {
            if (error) *error = "cannot create a file in \"" + folder.string() + "\": " + std::strerror(errno);
            return -1;
        }
    }
    if (error) *error = "cannot create a file in \"" + folder.string() + "\": too many unfinished files named \"." + name +
                        "*" + kWorkingSuffix + "\" there";
    return -1;
}

void FileManager::handOverWorkingFile(const std::string& path, int fd) const
{
    auto& h = handedFiles();
    std::lock_guard lock(h.mutex);
    if (auto it = h.files.find(path); it != h.files.end()) ::close(it->second);
    h.files[path] = fd;
}

int FileManager::takeWorkingFile(const std::string& path) const
{
    auto& h = handedFiles();
    std::lock_guard lock(h.mutex);
    auto it = h.files.find(path);
    if (it == h.files.end()) return -1;
    const int fd = it->second;
    h.files.erase(it);
    return fd;
}

bool FileManager::isWorkingFileName(const std::string& name)
{
    const size_t suffix = std::strlen(kWorkingSuffix);
    return name.size() > suffix + 1 && name[0] == '.' && name.compare(name.size() - suffix, suffix, kWorkingSuffix) == 0;
}

std::string FileManager::destinationOfWorkingFile(const std::string& path)
{
    const fs::path p(path);
    std::string name = p.filename().string();
    if (!isWorkingFileName(name)) return {};
    name = name.substr(1, name.size() - 1 - std::strlen(kWorkingSuffix));
    // ".clip.mov.2" was the second recording of clip.mov.
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot + 1 < name.size() &&
        name.find_first_not_of("0123456789", dot + 1) == std::string::npos)
        name.resize(dot);
    return (p.parent_path() / name).string();
}

std::vector<FileManager::Leftover> FileManager::leftoverFiles(const std::string& folder) const
{
    std::vector<Leftover> found;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return found;
    while (dirent* entry = ::readdir(dir)) {
        if (!isWorkingFileName(entry->d_name)) continue;
        const std::string path = (fs::path(folder.empty() ? "." : folder) / entry->d_name).string();
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) continue;
        struct stat st{};
        // Ours, not empty, and no process holds it (a live recording does).
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_size > 0 &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            found.push_back({path, static_cast<uint64_t>(st.st_size), static_cast<int64_t>(st.st_mtime)});
        ::close(fd); // (the lock goes with it)
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), [](const Leftover& a, const Leftover& b) {
        return a.modified != b.modified ? a.modified < b.modified : a.path < b.path;
    });
    return found;
}

bool FileManager::placeFile(int fd, const std::string& path, const std::string& destination, bool replace,
                            std::string* error) const
{
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    if (::close(fd) != 0 || !synced) {
        const int e = synced ? errno : syncError;
        ::unlink(path.c_str());
        if (error) *error = "cannot write \"" + destination + "\": " + std::strerror(e);
        return false;
    }
    if (renameIntoPlace(path, destination, replace, error)) return true;
    ::unlink(path.c_str());
    return false;
}

bool FileManager::renameIntoPlace(const std::string& path, const std::string& destination, bool replace,
                                  std::string* error) const
{
    // Private while written; once in place, a file like any other the user makes.
    (void)::chmod(path.c_str(), 0666 & ~processUmask());
    int e = 0;
    if (replace) {
        e = ::rename(path.c_str(), destination.c_str()) == 0 ? 0 : errno;
    } else {
        // Renamed without replacing; where the file system cannot do that, a hard link
        // (which never replaces either) and the working name goes.
        e = ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
        if (e == EINVAL || e == ENOSYS) {
            e = ::link(path.c_str(), destination.c_str()) == 0 ? 0 : errno;
            if (e == 0) ::unlink(path.c_str());
        }
    }
    if (e != 0) {
        if (error)
            *error = e == EEXIST ? "\"" + destination + "\" already exists"
                                 : "cannot put the file at \"" + destination + "\": " + std::strerror(e);
        return false;
    }
    // The folder's entry too, so the name survives a power loss.
    const fs::path folder = fs::path(destination).has_parent_path() ? fs::path(destination).parent_path() : ".";
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace orva

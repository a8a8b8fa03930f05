#include "platform/foundation/FileManager.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <set>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orva {

namespace {

std::string systemTemporaryRoot()
{
    std::error_code ec;
    if (const char* dir = std::getenv("TMPDIR"); dir && *dir && fs::is_directory(dir, ec)) {
        std::string s = dir;
        while (s.size() > 1 && s.back() == '/') s.pop_back();
        return s;
    }
    return "/tmp";
}

// A real folder (not a link), owned by this user, closed to group and others.
bool isPrivateFolder(const std::string& path)
{
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

// `path` made (0700) or found private; false when it exists and is not.
bool privateFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return isPrivateFolder(path);
}

struct Folders {
    std::mutex mutex;
    std::string root;          // the system temporary folder the two below are in
    std::string user, process; // made on first use
    std::set<std::string> held; // temporary paths given out and not yet released
};

Folders& folders()
{
    static Folders f;
    return f;
}

std::string userFolderLocked(Folders& f)
{
    const std::string root = systemTemporaryRoot();
    if (!f.user.empty() && f.root == root && isPrivateFolder(f.user)) return f.user;
    f.root = root;
    f.process.clear();
    const std::string preferred = root + "/orva-" + std::to_string(::geteuid());
    if (privateFolder(preferred)) {
        f.user = preferred;
    } else {
        // Taken by someone else (or not a folder): a fresh private one for this user.
        std::string pattern = preferred + "-XXXXXX";
        f.user = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    return f.user;
}

bool processAlive(pid_t pid)
{
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
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

std::string FileManager::userTemporaryDirectory() const
{
    auto& f = folders();
    std::lock_guard lock(f.mutex);
    return userFolderLocked(f);
}

std::string FileManager::temporaryDirectory() const
{
    auto& f = folders();
    std::lock_guard lock(f.mutex);
    const std::string user = userFolderLocked(f); // (forgets the process folder when TMPDIR changed)
    if (!f.process.empty() && isPrivateFolder(f.process)) return f.process;
    if (user.empty()) return {};
    const std::string mine = user + "/" + std::to_string(::getpid());
    f.process = privateFolder(mine) ? mine : std::string();
    return f.process;
}

std::optional<uint64_t> FileManager::freeSpace(const std::string& path) const
{
    struct statvfs st{};
    if (statvfs(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

std::string FileManager::uniqueTemporaryPath(const std::string& name) const
{
    const std::string folder = temporaryDirectory();
    if (folder.empty() || name.empty()) return {};
    const fs::path base(name);
    const std::string stem = base.stem().string(), extension = base.extension().string();
    auto& f = folders();
    std::lock_guard lock(f.mutex);
    for (int n = 1; n < 10000; ++n) {
        const std::string candidate =
            folder + "/" + (n == 1 ? base.filename().string() : stem + "-" + std::to_string(n) + extension);
        if (!fileExistsAtPath(candidate) && f.held.insert(candidate).second) return candidate;
    }
    return {};
}

void FileManager::releaseTemporaryPath(const std::string& path) const
{
    auto& f = folders();
    std::lock_guard lock(f.mutex);
    f.held.erase(path);
}

int FileManager::createFileBeside(const std::string& destination, std::string* path, std::string* error) const
{
    const fs::path target(destination);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = (folder / ("." + target.filename().string() + ".part-" +
                                                  std::to_string(::getpid()) + "-" + std::to_string(attempt)))
                                          .string();
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (path) *path = candidate;
            return fd;
        }
        if (errno != EEXIST) {
            if (error) *error = "cannot create a file in \"" + folder.string() + "\": " + std::strerror(errno);
            return -1;
        }
    }
    if (error) *error = "cannot create a file in \"" + folder.string() + "\"";
    return -1;
}

bool FileManager::placeFile(int fd, const std::string& path, const std::string& destination, bool replace,
                            std::string* error) const
{
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        ::close(fd);
        ::unlink(path.c_str());
        return false;
    };
    if (::fsync(fd) != 0) return fail("cannot write \"" + destination + "\": " + std::strerror(errno));
    if (::close(fd) != 0) {
        const int e = errno;
        ::unlink(path.c_str());
        if (error) *error = "cannot write \"" + destination + "\": " + std::strerror(e);
        return false;
    }
    fd = -1;
    if (replace) {
        if (::rename(path.c_str(), destination.c_str()) != 0) {
            const int e = errno;
            ::unlink(path.c_str());
            if (error) *error = "cannot put the file at \"" + destination + "\": " + std::strerror(e);
            return false;
        }
    } else {
        // Renamed without replacing; where the file system cannot do that, a hard link
        // (which never replaces either) and the temporary name goes.
        int e = ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
        const bool linking = e == EINVAL || e == ENOSYS;
        if (linking) e = ::link(path.c_str(), destination.c_str()) == 0 ? 0 : errno;
        if (e != 0) {
            ::unlink(path.c_str());
            if (error)
                *error = e == EEXIST ? "\"" + destination + "\" already exists"
                                     : "cannot put the file at \"" + destination + "\": " + std::strerror(e);
            return false;
        }
        if (linking) ::unlink(path.c_str());
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

std::vector<FileManager::Leftover> FileManager::leftoverFiles() const
{
    std::vector<Leftover> found;
    const std::string user = userTemporaryDirectory();
    if (user.empty()) return found;
    DIR* dir = ::opendir(user.c_str());
    if (!dir) return found;
    while (dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end || pid <= 0 || pid == ::getpid() || processAlive(static_cast<pid_t>(pid)))
            continue;
        const std::string folder = user + "/" + entry->d_name;
        if (!isPrivateFolder(folder)) continue;
        std::error_code ec;
        for (const auto& file : fs::directory_iterator(folder, ec)) {
            struct stat st{};
            if (::lstat(file.path().c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
                found.push_back({static_cast<pid_t>(pid), file.path().string()});
        }
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), [](const Leftover& a, const Leftover& b) {
        return a.process != b.process ? a.process < b.process : a.path < b.path;
    });
    return found;
}

void FileManager::removeTemporaryDirectoryIfEmpty() const
{
    auto& f = folders();
    std::lock_guard lock(f.mutex);
    if (!f.process.empty() && ::rmdir(f.process.c_str()) == 0) f.process.clear();
}

} // namespace orva

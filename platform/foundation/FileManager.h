// File operations the component needs: the private temporary directory, placing a
// finished file at its destination, free space. Synchronous; callable from any
// thread. Failures answer false or null with a readable reason in *error when given.
//
// The temporary directory is private, as the platform's own is: a folder of the user
// ($TMPDIR or /tmp, then "orva-<uid>"), created 0700 and checked to be a real folder
// owned by the user and closed to everyone else (one that is not is never used: a
// fresh private folder is made instead), with a folder per process inside it. Files
// in it are created with O_EXCL|O_NOFOLLOW, so nothing planted there is followed or
// overwritten.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orva {

class FileManager {
public:
    static FileManager& defaultManager();

    // Moves a file; fails when the destination exists. Works across file systems.
    [[nodiscard]] bool moveItemAtPath(const std::string& path, const std::string& toPath,
                                      std::string* error = nullptr);
    // Removes a regular file (never a folder, device, FIFO or symbolic link).
    [[nodiscard]] bool removeItemAtPath(const std::string& path, std::string* error = nullptr);
    [[nodiscard]] bool fileExistsAtPath(const std::string& path) const;
    // The whole content of a regular file of at most `maximumBytes`. A FIFO, device,
    // socket or folder is refused without blocking (opened O_NONBLOCK, then checked),
    // and so is a larger file, each with a reason naming the path.
    [[nodiscard]] std::optional<std::string> readRegularFile(const std::string& path, uint64_t maximumBytes,
                                                             std::string* error = nullptr) const;
    // Whether path names a regular file (following links), with the reason when not;
    // for inputs another library opens by name (a FIFO would block it forever).
    [[nodiscard]] bool isRegularFile(const std::string& path, std::string* error = nullptr) const;
    // This process's private temporary folder (made on first use), no trailing
    // slash; empty when no private folder can be made.
    [[nodiscard]] std::string temporaryDirectory() const;
    // The user's private folder that holds every process's temporary folder.
    [[nodiscard]] std::string userTemporaryDirectory() const;
    // Bytes available to an unprivileged user on the file system holding path.
    [[nodiscard]] std::optional<uint64_t> freeSpace(const std::string& path) const;

    // "<temporary directory>/<name>" when nothing is there and no other caller holds
    // that name, else the name with a number before its extension ("clip-2.mov");
    // empty without a temporary folder. The name is held for the caller until
    // releaseTemporaryPath, so two recordings started together get different files.
    [[nodiscard]] std::string uniqueTemporaryPath(const std::string& name) const;
    void releaseTemporaryPath(const std::string& path) const;

    // A new empty file beside `destination` (same folder, a hidden name), opened for
    // writing with O_EXCL|O_NOFOLLOW; -1 with *error set when it cannot be made.
    [[nodiscard]] int createFileBeside(const std::string& destination, std::string* path, std::string* error) const;
    // Syncs a finished file made by createFileBeside and puts it in place of
    // `destination` in one step: never replacing what is there unless `replace`.
    // On failure the destination is untouched and the file is removed.
    [[nodiscard]] bool placeFile(int fd, const std::string& path, const std::string& destination, bool replace,
                                 std::string* error) const;

    // Working files left by processes of this user that ended without finishing them
    // (crashed, killed): their paths, oldest process first.
    struct Leftover {
        pid_t process = 0;
        std::string path;
    };
    [[nodiscard]] std::vector<Leftover> leftoverFiles() const;
    // Removes this process's temporary folder when it is empty.
    void removeTemporaryDirectoryIfEmpty() const;
};

} // namespace orva

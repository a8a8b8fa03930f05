// File operations the component needs: working files beside their destination,
// placing a finished file there, free space. Synchronous; callable from any thread.
// Failures answer false or null with a readable reason in *error when given.
//
// A file being written (a recording, a capture) is a hidden working file in its
// destination's own folder, ".NAME.recording", created with O_EXCL|O_NOFOLLOW and
// mode 0600 and locked (flock) by the process writing it, then renamed into place
// when complete: nothing lives in a shared temporary folder, finishing never copies
// across file systems, and a working file no process holds is a leftover of one that
// ended (crashed, killed) which leftoverFiles() names.
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
    // Bytes available to an unprivileged user on the file system holding path.
    [[nodiscard]] std::optional<uint64_t> freeSpace(const std::string& path) const;

    // A new working file for `destination`: ".NAME.recording" in its folder (or
    // ".NAME.2.recording" and so on when that exists), open for reading and writing,
    // locked; -1 with *error set when it cannot be made.
    [[nodiscard]] int createWorkingFile(const std::string& destination, std::string* path, std::string* error) const;
    // Hands a working file made by createWorkingFile (its descriptor, lock and all) to
    // whoever opens the path next in this process (the asset writer); taken once.
    void handOverWorkingFile(const std::string& path, int fd) const;
    // The descriptor handed over for the path, now the caller's; -1 when none.
    [[nodiscard]] int takeWorkingFile(const std::string& path) const;
    // ".clip.mov.recording" names a working file; its destination is "clip.mov".
    [[nodiscard]] static bool isWorkingFileName(const std::string& name);
    [[nodiscard]] static std::string destinationOfWorkingFile(const std::string& path);
    // Syncs a finished file and puts it in place of `destination` in one step: never
    // replacing what is there unless `replace`. On failure the destination is
    // untouched and the file is removed.
    [[nodiscard]] bool placeFile(int fd, const std::string& path, const std::string& destination, bool replace,
                                 std::string* error) const;
    // Renames a complete file in place of `destination` (never replacing what is
    // there unless `replace`) and syncs the folder; on failure both are left as they are.
    [[nodiscard]] bool renameIntoPlace(const std::string& path, const std::string& destination, bool replace,
                                       std::string* error) const;

    // Working files in `folder` that no process holds (their writer crashed or was
    // killed), not empty, the user's own: oldest first.
    struct Leftover {
        std::string path;
        uint64_t bytes = 0;
        int64_t modified = 0; // seconds since the epoch
    };
    [[nodiscard]] std::vector<Leftover> leftoverFiles(const std::string& folder) const;
};

} // namespace orva

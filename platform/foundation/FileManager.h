// File operations the component needs: moving a finished file into place, the
// temporary directory, free space. Synchronous; callable from any thread. Failures
// answer false or null with a readable reason in *error when given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orva {

class FileManager {
public:
    static FileManager& defaultManager();

    // Moves a file; fails when the destination exists. Works across file systems.
    [[nodiscard]] bool moveItemAtPath(const std::string& path, const std::string& toPath,
                                      std::string* error = nullptr);
    [[nodiscard]] bool removeItemAtPath(const std::string& path, std::string* error = nullptr);
    [[nodiscard]] bool fileExistsAtPath(const std::string& path) const;
    // $TMPDIR when set and a directory, else /tmp; no trailing slash.
    [[nodiscard]] std::string temporaryDirectory() const;
    // Bytes available to an unprivileged user on the file system holding path.
    [[nodiscard]] std::optional<uint64_t> freeSpace(const std::string& path) const;
};

} // namespace orva

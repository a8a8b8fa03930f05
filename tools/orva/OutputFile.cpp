#include "OutputFile.h"

#include "Cli.h"
#include "Terminal.h"
#include "platform/foundation/FileManager.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace cli {

bool OutputFile::isStandardOutput(const std::string& path)
{
    return path == "-" || path == "/dev/stdout" || path == "/dev/fd/1" || path == "/proc/self/fd/1";
}

void OutputFile::ignoreBrokenPipes()
{
    std::signal(SIGPIPE, SIG_IGN);
}

std::optional<std::string> OutputFile::check(const Invocation& invocation, const std::string& path, int& status)
{
    status = kExitFailure;
    if (path.empty()) {
        status = invocation.fail(kExitUsage, "the output file name is empty");
        return std::nullopt;
    }
    if (isStandardOutput(path)) {
        if (::isatty(STDOUT_FILENO)) {
            status = invocation.fail(kExitUsage, "standard output is a terminal; pipe it into a program or give a file");
            return std::nullopt;
        }
        if (invocation.json()) {
            status = invocation.fail(kExitUsage, "--json and --out - both want standard output; give a file to --out");
            return std::nullopt;
        }
        ignoreBrokenPipes();
        return std::string("-");
    }
    std::error_code ec;
    const fs::path destination = fs::absolute(path, ec);
    if (ec) {
        invocation.fail(kExitFailure, "cannot use \"%s\": %s", path.c_str(), ec.message().c_str());
        return std::nullopt;
    }
    const fs::path folder = destination.parent_path();
    if (!fs::is_directory(folder, ec)) {
        invocation.fail(kExitFailure, "the folder \"%s\" does not exist", folder.c_str());
        return std::nullopt;
    }
    if (::access(folder.c_str(), W_OK) != 0) {
        invocation.fail(kExitFailure, "cannot write into \"%s\": %s", folder.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    struct stat st{};
    if (::lstat(destination.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            invocation.fail(kExitFailure, "\"%s\" is a folder; give a file name", path.c_str());
            return std::nullopt;
        }
        if (!S_ISREG(st.st_mode)) {
            invocation.fail(kExitFailure, "\"%s\" is not a regular file (a device, pipe or link); give another name",
                            path.c_str());
            return std::nullopt;
        }
        if (!invocation.overwrite()) {
            invocation.fail(kExitFailure, "\"%s\" exists; add -y (--overwrite) to replace it", path.c_str());
            return std::nullopt;
        }
    }
    return destination.string();
}

void OutputFile::tellAboutLeftovers(const std::string& destination)
{
    if (destination == "-") return;
    const std::filesystem::path folder = std::filesystem::path(destination).parent_path();
    const auto leftovers = orva::FileManager::defaultManager().leftoverFiles(folder.empty() ? "." : folder.string());
    constexpr size_t kShown = 5;
    for (size_t i = 0; i < leftovers.size() && i < kShown; ++i) {
        const auto& l = leftovers[i];
        const std::string made = orva::FileManager::destinationOfWorkingFile(l.path);
        const bool movie = made.size() > 4 && made.compare(made.size() - 4, 4, ".mov") == 0;
        std::fprintf(err(), "orva: %s that did not finish (%.1f MB) is at %s;\n", movie ? "a recording" : "a capture",
                     static_cast<double>(l.bytes) / 1e6, l.path.c_str());
        if (movie)
            std::fprintf(err(), "  orva repair %s makes a movie of it\n", l.path.c_str());
        else
            std::fprintf(err(), "  it holds what was captured before the run ended (meant for %s)\n", made.c_str());
    }
    if (leftovers.size() > kShown)
        std::fprintf(err(), "orva: and %zu more beside them\n", leftovers.size() - kShown);
}

OutputFile::OutputFile(const Invocation& invocation, std::string destination)
    : mInvocation(invocation), mDestination(std::move(destination))
{
}

OutputFile::~OutputFile()
{
    if (toStandardOutput()) return;
    if (mStream) std::fclose(mStream);
    if (!mCommitted && !mTemporary.empty()) (void)orva::FileManager::defaultManager().removeItemAtPath(mTemporary);
}

bool OutputFile::open()
{
    if (toStandardOutput()) {
        mStream = stdout;
        return true;
    }
    std::string error;
    const int fd = orva::FileManager::defaultManager().createWorkingFile(mDestination, &mTemporary, &error);
    if (fd < 0) {
        mInvocation.fail(kExitFailure, "%s", error.c_str());
        return false;
    }
    mStream = ::fdopen(fd, "wb");
    if (!mStream) {
        ::close(fd);
        mInvocation.fail(kExitFailure, "cannot write \"%s\"", mTemporary.c_str());
        return false;
    }
    return true;
}

bool OutputFile::commit()
{
    if (!mStream) return false;
    if (toStandardOutput()) {
        if (std::fflush(mStream) == 0 || errno == EPIPE) return mCommitted = true;
        mInvocation.fail(kExitFailure, "writing to standard output failed: %s", std::strerror(errno));
        return false;
    }
    if (std::fflush(mStream) != 0 || std::ferror(mStream)) {
        const int e = errno;
        mInvocation.fail(kExitFailure, "writing \"%s\" failed: %s", mDestination.c_str(), std::strerror(e));
        return false;
    }
    // placeFile syncs and closes the descriptor; the stream's buffer is empty now.
    const int fd = ::dup(::fileno(mStream));
    std::fclose(mStream);
    mStream = nullptr;
    std::string error;
    if (fd < 0 || !orva::FileManager::defaultManager().placeFile(fd, mTemporary, mDestination, mInvocation.overwrite(),
                                                                 &error)) {
        mInvocation.fail(kExitFailure, "%s", error.empty() ? "cannot put the file in place" : error.c_str());
        mTemporary.clear(); // placeFile removed it
        return false;
    }
    mCommitted = true;
    return true;
}

} // namespace cli

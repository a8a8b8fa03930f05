// A file a command writes (capture --out, capture-audio --out, overlay --out): checked
// before anything else is touched, written as a locked working file beside its
// destination (".NAME.recording", as recordings are) and put in place only when
// complete, so a failed or interrupted run leaves whatever was there as it was; one
// killed outright leaves its working file, which the next run names.
//
// "-" (or /dev/stdout) is standard output, for a stream a pipe can carry; it must not
// be a terminal, and the command's results then go to standard error.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace cli {

class Invocation;

class OutputFile {
public:
    // The destination's folder must exist and be writable; the destination must not
    // be a folder or anything but a regular file, and may exist only with -y. The
    // absolute path; null after saying why, with the exit status in `status`.
    static std::optional<std::string> check(const Invocation& invocation, const std::string& path, int& status);
    // Whether the path names standard output.
    static bool isStandardOutput(const std::string& path);
    // A reader that stops reading ends the writing, not the program.
    static void ignoreBrokenPipes();

    // Names the working files in the destination's folder that no running process
    // holds (left by a run that was killed), with what to do about them.
    static void tellAboutLeftovers(const std::string& destination);

    OutputFile(const Invocation& invocation, std::string destination);
    ~OutputFile(); // removes the hidden file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the hidden file; false after saying why.
    bool open();
    FILE* stream() const { return mStream; }
    // The hidden file's path (for writers that take a path).
    const std::string& temporaryPath() const { return mTemporary; }
    // Flushes, syncs and puts the file in place; false after saying why.
    bool commit();
    bool toStandardOutput() const { return mDestination == "-"; }

private:
    const Invocation& mInvocation;
    std::string mDestination, mTemporary;
    FILE* mStream = nullptr;
    bool mCommitted = false;
};

} // namespace cli

// Reading resolution catalogue files for the component: regular files only, at most
// XMLParser::kMaximumDocumentBytes, and each content parsed once per process, so a
// host that asks about many cameras, or the same camera many times, parses the file
// once (it is still read each time, so a changed file is seen at once). The trees of
// the last few readable contents are kept and shared. Any thread; file reads block.
#pragma once

#include <orva/Value.h>

#include <string>

namespace orva {

class CatalogueFile {
public:
    struct Result {
        Value root;        // the reader's tree, or null
        std::string error; // why there is none: unreadable, not a file, too large, malformed
    };
    static Result read(const std::string& path);
    // How many times a file was actually parsed (for tests).
    static size_t parseCount();
};

} // namespace orva

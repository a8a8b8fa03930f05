#include "catalogue/CatalogueFile.h"

#include <orva/SMXMLReader.h>
#include "platform/foundation/FileManager.h"

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string_view>

namespace orva {

namespace {

// A file is known by its content (size and hash), not by its timestamps, whose
// granularity lets two quick writes of a file look alike. Reading the bytes again is
// cheap; parsing them is what the cache saves.
struct Entry {
    size_t size = 0;
    size_t hash = 0;
    CatalogueFile::Result result;
};

constexpr size_t kKept = 4;
std::mutex gLock;
std::deque<Entry> gEntries; // most recent first
std::atomic<size_t> gParses{0};

} // namespace

CatalogueFile::Result CatalogueFile::read(const std::string& path)
{
    Result result;
    std::string error;
    const auto bytes = FileManager::defaultManager().readRegularFile(path, XMLParser::kMaximumDocumentBytes, &error);
    if (!bytes) {
        result.error = error;
        return result;
    }
    const size_t hash = std::hash<std::string_view>{}(*bytes);
    {
        std::lock_guard lock(gLock);
        for (auto it = gEntries.begin(); it != gEntries.end(); ++it)
            if (it->size == bytes->size() && it->hash == hash) {
                Entry found = *it;
                gEntries.erase(it);
                gEntries.push_front(found);
                return found.result;
            }
    }
    ++gParses;
    std::optional<XMLParseError> parseError;
    result.root = SMXMLReader::dictionaryForXMLData(*bytes, &parseError);
    if (result.root.isNull()) { // not kept: its error names this path
        result.error = "\"" + path + "\" is not a catalogue: " +
                       (parseError ? parseError->description() : std::string("the file is empty"));
        return result;
    }
    std::lock_guard lock(gLock);
    gEntries.push_front(Entry{bytes->size(), hash, result});
    if (gEntries.size() > kKept) gEntries.pop_back();
    return result;
}

size_t CatalogueFile::parseCount()
{
    return gParses.load();
}

} // namespace orva

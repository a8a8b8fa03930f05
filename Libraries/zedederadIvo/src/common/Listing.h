// The ABI's listing protocol, shared by both implementations.
#pragma once

#include "zedederadIvo.h"

#include <vector>

namespace zi {

// The listing protocol over a vector of fixed-size records.
template <typename Record>
int32_t listRecords(const std::vector<Record>& records, Record* buffer, uint32_t* size, uint32_t* count)
{
    if (size == nullptr || count == nullptr) return ZI_ERR_INVALID_ARG;
    const auto n = static_cast<uint32_t>(records.size());
    if (buffer == nullptr) {
        *count = n;
        *size = n * static_cast<uint32_t>(sizeof(Record));
        return n == 0 ? ZI_OK : ZI_MORE_DATA;
    }
    if (*count != n || *size < n * sizeof(Record)) return ZI_ERR_BUFFER_SIZE;
    for (uint32_t i = 0; i < n; ++i) buffer[i] = records[i];
    return ZI_OK;
}

} // namespace zi

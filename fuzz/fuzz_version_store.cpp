// The version store's parsers on arbitrary bytes, as a hostile store would
// hold them: a version name or a record either does not parse, or is
// exactly what the store writes for what it parsed to.
#include "version_store.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const std::optional<tavro::Version> version = tavro::ParseVersionName(bytes)) {
        if (tavro::VersionName(*version) != bytes || version->number == 0)
            std::abort();
    }
    if (const std::optional<std::string> path = tavro::ParseHistoryRecord(bytes)) {
        if (tavro::HistoryRecord(*path) != bytes || path->empty() || path->front() != '/')
            std::abort();
    }
    return 0;
}

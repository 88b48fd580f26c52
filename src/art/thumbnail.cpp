#include "art/thumbnail.hpp"

#include <cstdint>
#include <utility>

namespace olvex::art {

namespace {

std::optional<std::string> read_stream(media::ThumbnailReference& reference) {
    auto stream = reference.open_read();
    if (!stream || !*stream) return std::nullopt;
    const auto size = (*stream)->size();
    if (!size) return std::nullopt;
    if (*size == 0) return std::string();
    if (*size > media::LARGEST_THUMBNAIL) return std::nullopt;
    auto bytes = (*stream)->read(static_cast<std::uint32_t>(*size));
    if (!bytes) return std::nullopt;
    return std::move(*bytes);
}

}  // namespace

media::PlatformResult<std::optional<std::string>> read_thumbnail(const media::MediaWatcherHandle& watcher) {
    const media::SessionRef session = watcher.current_session();
    if (!session) return std::optional<std::string>();
    auto properties = session->try_get_media_properties();
    if (!properties) return std::unexpected(std::move(properties.error()));
    if (!*properties) return make_error("the session gave no media properties");
    auto reference = (*properties)->thumbnail();
    if (!reference || !*reference) return std::optional<std::string>();
    return read_stream(**reference);
}

}  // namespace olvex::art

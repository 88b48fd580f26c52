#include "art/thumbnail.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <utility>

#include "art/art.hpp"
#include "art/picture.hpp"

namespace olvex::art {

namespace {

using Stream = std::unique_ptr<media::ThumbnailStream>;

// The current session's thumbnail stream: a null one when there is none, an
// error when the session's media properties cannot be obtained.
media::PlatformResult<Stream> open_thumbnail(const media::MediaWatcherHandle& watcher) {
    const media::SessionRef session = watcher.current_session();
    if (!session) return Stream();
    auto properties = session->try_get_media_properties();
    if (!properties) return std::unexpected(std::move(properties.error()));
    if (!*properties) return make_error("the session gave no media properties");
    auto reference = (*properties)->thumbnail();
    if (!reference || !*reference) return Stream();
    auto stream = (*reference)->open_read();
    if (!stream) return Stream();
    return std::move(*stream);
}

std::optional<std::string> read_whole(media::ThumbnailStream& stream) {
    const auto size = stream.size();
    if (!size) return std::nullopt;
    if (*size == 0) return std::string();
    if (*size > media::LARGEST_THUMBNAIL) return std::nullopt;
    auto bytes = stream.read(static_cast<std::uint32_t>(*size));
    if (!bytes) return std::nullopt;
    return std::move(*bytes);
}

// A thumbnail stream that reads in parts, as a decoder's input.
class ThumbnailInput final : public PictureInput {
public:
    explicit ThumbnailInput(media::ThumbnailStream& stream) : stream_(stream) {}

    std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> into) override {
        const auto got = stream_.read_at(offset, into);
        if (!got) return std::nullopt;
        return *got;
    }

private:
    media::ThumbnailStream& stream_;
};

std::optional<std::string> stream_art(media::ThumbnailStream& stream) {
    if (stream.reads_in_parts()) {
        const auto size = stream.size();
        if (!size || *size > media::LARGEST_THUMBNAIL) return std::nullopt;
        ThumbnailInput input(stream);
        return encode_art(input);
    }
    const auto bytes = read_whole(stream);
    if (!bytes) return std::nullopt;
    return encode_art(std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
}

}  // namespace

media::PlatformResult<std::optional<std::string>> read_thumbnail(const media::MediaWatcherHandle& watcher) {
    auto stream = open_thumbnail(watcher);
    if (!stream) return std::unexpected(std::move(stream.error()));
    if (!*stream) return std::optional<std::string>();
    return read_whole(**stream);
}

std::optional<std::string> thumbnail_art(const media::MediaWatcherHandle& watcher) {
    auto stream = open_thumbnail(watcher);
    if (!stream || !*stream) return std::nullopt;
    // Only the reading and converting wait their turn: a player slow to hand
    // over its media properties holds up nobody else.
    static std::mutex one_at_a_time;
    const std::scoped_lock lock(one_at_a_time);
    return stream_art(**stream);
}

}  // namespace olvex::art

#include "media/mpris_thumbnail_linux.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "base/unique_fd_linux.hpp"

namespace olvex::media::mpris {

namespace {

Error system_error(std::string_view what, int code) {
    return Error{fmt::format("{}: {} (0x{:08X})", what, std::strerror(code), static_cast<unsigned>(code))};
}

class FileThumbnailStream final : public ThumbnailStream {
public:
    FileThumbnailStream(std::unique_ptr<UniqueFd> file, std::uint64_t size)
        : file_(std::move(file)), size_(size) {}

    PlatformResult<std::uint64_t> size() override { return size_; }

    PlatformResult<std::string> read(std::uint32_t count) override {
        std::string bytes(static_cast<std::size_t>(std::min<std::uint64_t>(count, size_)), '\0');
        const auto filled = read_at(0, std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()));
        if (!filled) return std::unexpected(std::move(filled.error()));
        bytes.resize(*filled);
        return bytes;
    }

    bool reads_in_parts() const noexcept override { return true; }

    // Reads no further than the size the file had when opened: a file that
    // grows meanwhile does not get past the size limit.
    PlatformResult<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> into) override {
        if (offset >= size_) return 0;
        into = into.first(static_cast<std::size_t>(std::min<std::uint64_t>(into.size(), size_ - offset)));
        std::size_t filled = 0;
        while (filled < into.size()) {
            const ssize_t got = ::pread(file_->get(), into.data() + filled, into.size() - filled,
                                        static_cast<off_t>(offset + filled));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return std::unexpected(system_error("could not read the cover art", errno));
            if (got == 0) break;  // the file shrank since it was opened
            filled += static_cast<std::size_t>(got);
        }
        return filled;
    }

private:
    std::unique_ptr<UniqueFd> file_;
    std::uint64_t size_;
};

class FileThumbnailReference final : public ThumbnailReference {
public:
    explicit FileThumbnailReference(std::filesystem::path path) : path_(std::move(path)) {}

    // O_NONBLOCK keeps a FIFO in the cover's place from holding the caller
    // until some writer opens it.
    PlatformResult<std::unique_ptr<ThumbnailStream>> open_read() override {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) return std::unexpected(system_error("could not open the cover art", errno));
        auto file = std::make_unique<UniqueFd>(fd);
        struct stat status {};
        if (::fstat(fd, &status) != 0) return std::unexpected(system_error("could not inspect the cover art", errno));
        if (!S_ISREG(status.st_mode)) return make_error("the cover art is not a regular file");
        const auto size = static_cast<std::uint64_t>(status.st_size);
        if (size > LARGEST_THUMBNAIL) return make_error("the cover art file is too large");
        return std::make_unique<FileThumbnailStream>(std::move(file), size);
    }

private:
    std::filesystem::path path_;
};

}  // namespace

std::unique_ptr<ThumbnailReference> make_file_thumbnail(std::filesystem::path path) {
    return std::make_unique<FileThumbnailReference>(std::move(path));
}

}  // namespace olvex::media::mpris

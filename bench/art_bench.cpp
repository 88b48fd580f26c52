// Cost of one cover art conversion, next to the decoding alone.
//
//     olvex_art_bench DIR [benchmark flags]    times every picture file in DIR
//     olvex_art_bench --peak-memory FILE       memory one conversion of FILE takes
//
// tools/bench-art.sh writes the pictures and runs both.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "art/art.hpp"
#include "art/picture.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void encode(benchmark::State& state, const Bytes& bytes) {
    for (auto _ : state) {
        auto text = olvex::art::encode_art(bytes);
        if (!text) state.SkipWithError("no art");
        benchmark::DoNotOptimize(text);
    }
}

// What any decoder of the whole picture costs: the floor a conversion that
// decodes at full size could never go below.
void decode_full(benchmark::State& state, const Bytes& bytes) {
    for (auto _ : state) {
        auto picture = olvex::art::decode_picture(bytes);
        if (!picture) state.SkipWithError("no picture");
        benchmark::DoNotOptimize(picture);
    }
}

void decode_reduced(benchmark::State& state, const Bytes& bytes) {
    for (auto _ : state) {
        auto picture = olvex::art::decode_picture(bytes, olvex::art::ART_DECODE_MIN_WIDTH);
        if (!picture) state.SkipWithError("no picture");
        benchmark::DoNotOptimize(picture);
    }
}

// Resident memory of this process from /proc/self/status, in KiB: "VmRSS"
// now, or "VmHWM" the peak since the last reset_peak().
long status_kib(std::string_view field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(field)) return std::stol(line.substr(field.size() + 1));
    }
    return -1;
}

void reset_peak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// A picture file read as the program reads a player's cover file.
class FileInput final : public olvex::art::PictureInput {
public:
    explicit FileInput(const char* path) : fd_(::open(path, O_RDONLY | O_CLOEXEC)) {}
    FileInput(const FileInput&) = delete;
    FileInput& operator=(const FileInput&) = delete;
    ~FileInput() override {
        if (fd_ >= 0) ::close(fd_);
    }
    std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> into) override {
        const ssize_t got = ::pread(fd_, into.data(), into.size(), static_cast<off_t>(offset));
        if (got < 0) return std::nullopt;
        return static_cast<std::size_t>(got);
    }

private:
    int fd_;
};

// Peak memory over one whole conversion of a picture file read as it is
// decoded (the decoder's working memory and every buffer included), in KiB
// beyond what was resident before.
int peak_memory(const char* path) {
    // Hand freed memory back at once, so that what was resident before is
    // the program alone.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_TRIM_THRESHOLD, 0);
    FileInput input(path);
    reset_peak();
    const long before = status_kib("VmRSS");
    const auto text = olvex::art::encode_art(input);
    const long whole = status_kib("VmHWM") - before;
    std::printf("%s whole_kib=%ld art=%s\n", path, whole, text ? "yes" : "no");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--peak-memory") return peak_memory(argv[2]);
    if (argc < 2) {
        std::fputs("usage: olvex_art_bench DIR [benchmark flags] | --peak-memory FILE\n", stderr);
        return 2;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    static std::vector<Bytes> contents;  // outlives the benchmarks that refer to it
    contents.reserve(files.size());
    for (const auto& file : files) {
        const Bytes& bytes = contents.emplace_back(read_file(file));
        const std::string name = file.filename().string();
        const auto named = [&](std::string_view what) { return std::string(what).append("/").append(name); };
        benchmark::RegisterBenchmark(named("encode_art").c_str(), encode, bytes)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(named("decode_full").c_str(), decode_full, bytes)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(named("decode_reduced").c_str(), decode_reduced, bytes)
            ->Unit(benchmark::kMillisecond);
    }
    argv[1] = argv[0];
    int rest = argc - 1;
    benchmark::Initialize(&rest, argv + 1);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

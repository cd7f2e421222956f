// Reads a generated 1 MB firmware image from disk, block by block as a
// programming run does, and prints how long a whole read takes.
//   bench_image_reader [repetitions]
#include "protocol/image_reader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "protocol/image_text.h"

using namespace farsend::protocol;

namespace {

constexpr std::size_t kTargetFileSize = 1024 * 1024;

// Segments of a few kilobytes with small gaps between them, until the text
// reaches 1 MB.
std::string MakeImageText() {
    std::mt19937 random(1);
    std::vector<ImageSegment> segments;
    std::uint32_t address = 0x4000;
    std::size_t textSize = 0;
    while (textSize < kTargetFileSize) {
        ImageSegment segment;
        segment.address = address;
        const std::size_t length = 2048 + random() % 8192;
        for (std::size_t i = 0; i < length; ++i) {
            segment.bytes.push_back(static_cast<std::uint8_t>(random()));
        }
        address += static_cast<std::uint32_t>(length) + 64;
        textSize += 10 + length * 3;
        segments.push_back(std::move(segment));
    }
    return FormatImageText(segments, true);
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string text = MakeImageText();
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / "farsend_bench_image.hex";
    {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }

    double best = 1e9, total = 0;
    std::size_t blocks = 0, bytes = 0;
    for (int r = 0; r < repetitions; ++r) {
        const auto start = std::chrono::steady_clock::now();
        ImageFile file;
        if (!file.Open(path.string())) {
            std::fprintf(stderr, "cannot open %s\n", path.string().c_str());
            return 1;
        }
        ImageReaderState state;
        ProgrammingBlockSequence sequence(file, state);
        FlashBlock block;
        ProgrammingStep step;
        blocks = bytes = 0;
        while ((step = sequence.Next(block)) == ProgrammingStep::SendBlock) {
            ++blocks;
            bytes += block.count;
        }
        file.Close();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (step != ProgrammingStep::SendEndOfData) {
            std::fprintf(stderr, "the generated image did not read cleanly\n");
            return 1;
        }
        best = std::min(best, seconds);
        total += seconds;
    }
    std::filesystem::remove(path);

    const double megabytes = static_cast<double>(text.size()) / (1024.0 * 1024.0);
    std::printf("image: %zu bytes of text, %zu data bytes in %zu blocks\n", text.size(), bytes,
                blocks);
    std::printf("read %d times: best %.2f ms (%.1f MB/s), mean %.2f ms\n", repetitions,
                best * 1000.0, megabytes / best, total / repetitions * 1000.0);
    return 0;
}

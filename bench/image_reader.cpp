// Reads a generated firmware image of about 1 MB from disk in each format,
// the way a programming run does (the file read whole, turned into token text
// when it is in another format, then block by block), and prints how long a
// whole read takes.
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

#include "protocol/image_format.h"
#include "protocol/image_text.h"
#include "protocol/image_writers.h"

using namespace farsend::protocol;

namespace {

constexpr std::size_t kTargetFileSize = 1024 * 1024;

// Segments of a few kilobytes with small gaps between them, until the file
// in the given format reaches 1 MB (`bytesPerDataByte`: its size per byte).
std::vector<ImageSegment> MakeSegments(double bytesPerDataByte) {
    std::mt19937 random(1);
    std::vector<ImageSegment> segments;
    std::uint32_t address = 0x4000;
    double fileSize = 0;
    while (fileSize < kTargetFileSize) {
        ImageSegment segment;
        segment.address = address;
        const std::size_t length = 2048 + random() % 8192;
        for (std::size_t i = 0; i < length; ++i) {
            segment.bytes.push_back(static_cast<std::uint8_t>(random()));
        }
        address += static_cast<std::uint32_t>(length) + 64;
        fileSize += 10 + static_cast<double>(length) * bytesPerDataByte;
        segments.push_back(std::move(segment));
    }
    return segments;
}

// A 32-bit ELF file with one PT_LOAD segment per image segment.
std::string MakeElf(const std::vector<ImageSegment>& segments) {
    const std::size_t table = 52, entry = 32;
    std::string file(table + entry * segments.size(), '\0');
    auto put = [&file](std::size_t at, std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i) file[at + i] = static_cast<char>(value >> (8 * i));
    };
    file[0] = 0x7F, file[1] = 'E', file[2] = 'L', file[3] = 'F', file[4] = 1, file[5] = 1;
    put(28, table, 4);
    put(42, entry, 2);
    put(44, static_cast<std::uint32_t>(segments.size()), 2);
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const std::size_t at = table + i * entry;
        put(at, 1, 4);
        put(at + 4, static_cast<std::uint32_t>(file.size()), 4);
        put(at + 8, segments[i].address, 4);
        put(at + 12, segments[i].address, 4);
        put(at + 16, static_cast<std::uint32_t>(segments[i].bytes.size()), 4);
        put(at + 20, static_cast<std::uint32_t>(segments[i].bytes.size()), 4);
        file.append(segments[i].bytes.begin(), segments[i].bytes.end());
    }
    return file;
}

// One segment: a raw binary file has no gaps.
std::string MakeBinary() {
    std::mt19937 random(1);
    std::string file(kTargetFileSize, '\0');
    for (char& c : file) c = static_cast<char>(random());
    return file;
}

int Measure(const char* name, const std::string& content, const ImageReadOptions& options,
            int repetitions) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / (std::string("farsend_bench_image.") + name);
    {
        std::ofstream out(path, std::ios::binary);
        out << content;
    }
    double best = 1e9, total = 0;
    std::size_t blocks = 0, bytes = 0;
    for (int r = 0; r < repetitions; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const ImageSnapshot snapshot = TakeImageSnapshot(path.string());
        if (snapshot.status != ImageSnapshot::Status::Read) {
            std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
            return 1;
        }
        const TokenImage tokens = ReadImageAsTokens(snapshot.bytes, options);
        if (tokens.error) {
            std::fprintf(stderr, "%s: %s\n", name, DescribeImageFormatError(*tokens.error).c_str());
            return 1;
        }
        ImageFile file;
        tokens.OpenIn(file);
        ImageReaderState state;
        ProgrammingBlockSequence sequence(file, state);
        FlashBlock block;
        ProgrammingStep step;
        blocks = bytes = 0;
        while ((step = sequence.Next(block)) == ProgrammingStep::SendBlock) {
            ++blocks;
            bytes += block.count;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (step != ProgrammingStep::SendEndOfData) {
            std::fprintf(stderr, "%s: the generated image did not read cleanly\n", name);
            return 1;
        }
        best = std::min(best, seconds);
        total += seconds;
    }
    std::filesystem::remove(path);
    const double megabytes = static_cast<double>(content.size()) / (1024.0 * 1024.0);
    std::printf(
        "%-5s %8zu bytes of file, %7zu data bytes in %4zu blocks: best %6.2f ms "
        "(%6.1f MB/s of file, %6.1f MB/s of data), mean %6.2f ms\n",
        name, content.size(), bytes, blocks, best * 1000.0, megabytes / best,
        static_cast<double>(bytes) / (1024.0 * 1024.0) / best, total / repetitions * 1000.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::printf("reading about 1 MB of file in each format, %d times each\n", repetitions);
    int failed = 0;
    // CR LF token text, as the window program's users keep it.
    failed |= Measure("token", FormatImageText(MakeSegments(3.0), true), {}, repetitions);
    failed |= Measure("ihex", WriteIntelHex(MakeSegments(44.0 / 16)), {}, repetitions);
    failed |= Measure("srec", WriteSRecords(MakeSegments(48.0 / 16)), {}, repetitions);
    failed |= Measure("elf", MakeElf(MakeSegments(1.0)), {}, repetitions);
    failed |= Measure("bin", MakeBinary(), {ImageFormat::Binary, 0x4000u}, repetitions);
    return failed;
}

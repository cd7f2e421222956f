// Peak resident memory of farsend programming a 1 MB image into the
// simulated target (simulated time, so the run takes seconds): the figure is
// ru_maxrss of the farsend process, simulator and unit database (a new
// SQLite file in the benchmark's folder) included. The flash it leaves must
// hold the image.
//   bench_program_memory FARSEND [kilobytes]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/bench_support.h"

using namespace farsend;

namespace {

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The address -> byte content of an image file in the token format, enough
// for the files both sides write (address tokens above FF, bytes below).
bool SameBytes(const std::string& a, const std::string& b) {
    const auto bytes = [](const std::string& text) {
        std::istringstream in(text);
        std::string token;
        std::vector<std::pair<unsigned long, unsigned long>> out;
        unsigned long address = 0;
        while (in >> token) {
            const unsigned long value = std::strtoul(token.c_str(), nullptr, 16);
            if (value > 0xFF) {
                address = value;
            } else {
                out.emplace_back(address++, value);
            }
        }
        return out;
    };
    return bytes(a) == bytes(b);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_program_memory FARSEND [kilobytes]\n");
        return 2;
    }
    const std::string farsend = argv[1];
    const long kilobytes = argc > 2 ? std::max(1L, std::atol(argv[2])) : 1024;
    const std::filesystem::path dir = bench::MakeBenchDirectory("farsend-bench-memory");
    bench::RecordUnitsUnder(dir);
    const std::string image = (dir / "Farsend_15_bt.hex").string();
    const std::string flashOut = (dir / "flash-out.hex").string();
    std::string error;
    if (!sim::WriteImageFile(image, bench::ContiguousImage(static_cast<size_t>(kilobytes) * 1024),
                             &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    std::vector<std::string> words = {
        farsend,   "--simulate", "--quiet", "--sim-baud=115200", "--sim-flash-out=" + flashOut,
        "program", image};
    std::vector<char*> argvChild;
    for (std::string& word : words) argvChild.push_back(word.data());
    argvChild.push_back(nullptr);
    const double wall0 = bench::WallSeconds();
    const pid_t child = ::fork();
    if (child == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);
        if (quiet >= 0) ::dup2(quiet, 1);
        ::execv(argvChild[0], argvChild.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child) {
        std::fprintf(stderr, "cannot run %s\n", farsend.c_str());
        return 1;
    }
    const double wall = bench::WallSeconds() - wall0;
    const bool exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const bool same = exited && SameBytes(ReadWhole(image), ReadWhole(flashOut));
    std::filesystem::remove_all(dir);
    if (!same) {
        std::fprintf(stderr, "farsend did not program the image (status %d)\n", status);
        return 1;
    }

    const double megabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
    std::printf("farsend programmed a %ld KB image in %.1f s (wall, simulated time)\n", kilobytes,
                wall);
    std::printf("  peak resident memory (ru_maxrss): %ld KB = %.1f MB\n", usage.ru_maxrss,
                megabytes);
    bench::PrintRow(
        "peak resident memory, farsend programming a " + std::to_string(kilobytes) + " KB image",
        bench::Format("%.1f MB", megabytes), "< 16 MB", megabytes < 16.0);
    return 0;
}

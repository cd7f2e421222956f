// farsend-samples DIR: writes the sample firmware set into DIR.
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/sample_firmware.h"

namespace {

constexpr const char* kUsage =
    "Usage: farsend-samples DIR\n"
    "Writes the sample firmware set (Farsend_*.hex: Bluetooth and ZigBee, hardware\n"
    "1.0, 1.5 and 2.0, application and factory images) into DIR, made if missing.\n"
    "They are for practice with farsend --simulate and farsend-flasher.exe\n"
    "--simulate; they are not real firmware. Example:\n"
    "  farsend-samples samples && farsend --simulate program --dir samples\n"
    "Exit status: 0 written, 1 DIR cannot be written, 2 usage error.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "farsend-samples: name one folder\n%s", kUsage);
        return 2;
    }
    // A folder named like an option is almost always a mistyped option; one
    // really meant can be given as ./-name.
    if (argv[1][0] == '-') {
        std::fprintf(stderr,
                     "farsend-samples: unknown option %s (a folder whose name starts with - "
                     "is given as ./%s)\n%s",
                     argv[1], argv[1], kUsage);
        return 2;
    }
    std::string error;
    if (!farsend::sim::WriteSampleSet(argv[1], &error)) {
        std::fprintf(stderr, "farsend-samples: %s\n", error.c_str());
        return 1;
    }
    for (const farsend::sim::SampleImage& image : farsend::sim::SampleImageSet()) {
        std::printf("%s  %zu bytes in %zu runs\n", image.fileName.c_str(), image.DataBytes(),
                    image.runs.size());
    }
    return 0;
}

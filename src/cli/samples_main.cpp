// farsend-samples DIR: writes the sample firmware set into DIR.
#include <cstdio>
#include <string>

#include "sim/sample_firmware.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: farsend-samples DIR\n");
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

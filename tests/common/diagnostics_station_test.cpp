// Diagnostic lines written on a station's behalf name the station, line by
// line, whatever pieces the lines are written in and whichever thread
// writes them.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/diagnostics.h"

namespace farsend {
namespace {

// Everything written, per writing thread.
class Recorder {
public:
    Recorder() {
        SetDiagnosticSink([this](std::string_view text) {
            std::lock_guard<std::mutex> lock(mutex_);
            written_[std::this_thread::get_id()] += std::string(text);
        });
    }
    ~Recorder() { SetDiagnosticSink({}); }
    std::string Of(std::thread::id thread) {
        std::lock_guard<std::mutex> lock(mutex_);
        return written_[thread];
    }

private:
    std::mutex mutex_;
    std::map<std::thread::id, std::string> written_;
};

struct NamingCase {
    const char* label;
    std::string station;
    std::vector<std::string> pieces;
    std::string written;
};

class DiagnosticStationTest : public ::testing::TestWithParam<NamingCase> {};

TEST_P(DiagnosticStationTest, EachLineStartsWithTheStation) {
    const NamingCase& c = GetParam();
    Recorder recorder;
    std::thread writer([&] {
        SetDiagnosticStation(c.station);
        for (const std::string& piece : c.pieces) DiagnosticLine(piece);
    });
    const std::thread::id id = writer.get_id();
    writer.join();
    EXPECT_EQ(recorder.Of(id), c.written);
}

std::vector<NamingCase> NamingCases() {
    return {
        {"unnamed", "", {"waiting for TGT call\n"}, "waiting for TGT call\n"},
        {"whole_lines",
         "usb-1.2",
         {"waiting for TGT call\n", "Sending ACK to TGT\n"},
         "[usb-1.2] waiting for TGT call\n[usb-1.2] Sending ACK to TGT\n"},
        // The block lines begin with the end of the line before.
        {"pieces",
         "usb-1.3",
         {"\nbase:4000 nbytes:256 ", "\nbase:4100 nbytes:12 "},
         "\n[usb-1.3] base:4000 nbytes:256 \n[usb-1.3] base:4100 nbytes:12 "},
        {"several_lines_at_once", "s", {"a\nb\n\nc"}, "[s] a\n[s] b\n\n[s] c"},
    };
}

INSTANTIATE_TEST_SUITE_P(Lines, DiagnosticStationTest, ::testing::ValuesIn(NamingCases()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(DiagnosticStationTest, StationsOnTwoThreadsAndANameTakenBack) {
    Recorder recorder;
    std::thread a([] {
        SetDiagnosticStation("usb-1.2");
        for (int i = 0; i < 50; ++i) DiagnosticLine("line\n");
    });
    std::thread b([] {
        SetDiagnosticStation("usb-1.3");
        DiagnosticLine("half\n");
        SetDiagnosticStation("");
        DiagnosticLine("after\n");
    });
    const std::thread::id aId = a.get_id();
    const std::thread::id bId = b.get_id();
    a.join();
    b.join();
    std::string fifty;
    for (int i = 0; i < 50; ++i) fifty += "[usb-1.2] line\n";
    EXPECT_EQ(recorder.Of(aId), fifty);
    EXPECT_EQ(recorder.Of(bId), "[usb-1.3] half\nafter\n");
    // The test's own thread was never named.
    DiagnosticLine("plain\n");
    EXPECT_EQ(recorder.Of(std::this_thread::get_id()), "plain\n");
}

}  // namespace
}  // namespace farsend

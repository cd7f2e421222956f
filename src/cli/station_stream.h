// The output of one station among several: whole lines, each prefixed with
// the station's name, written to the shared stream under one lock, so that
// lines of stations that run at once never interleave. A carriage return
// (a bar redrawn in place) ends the line like a newline: plain output has no
// half-drawn lines.
#pragma once

#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>

namespace farsend::cli {

class StationStreamBuf final : public std::streambuf {
public:
    // `prefix` goes before every line ("" for none: JSON objects).
    StationStreamBuf(std::ostream& shared, std::mutex& lock, std::string prefix)
        : shared_(shared), lock_(lock), prefix_(std::move(prefix)) {}
    ~StationStreamBuf() override {
        if (!line_.empty()) FlushLine();
    }

protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    // Writes a pending part line too; fails when the shared stream has.
    int sync() override;

private:
    bool FlushLine();
    void Put(char c);

    std::ostream& shared_;
    std::mutex& lock_;
    const std::string prefix_;
    std::string line_;
    bool failed_ = false;
};

// An ostream over a StationStreamBuf.
class StationStream final : public std::ostream {
public:
    StationStream(std::ostream& shared, std::mutex& lock, std::string prefix)
        : std::ostream(nullptr), buffer_(shared, lock, std::move(prefix)) {
        rdbuf(&buffer_);
    }

private:
    StationStreamBuf buffer_;
};

}  // namespace farsend::cli

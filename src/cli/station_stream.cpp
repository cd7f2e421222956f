#include "cli/station_stream.h"

namespace farsend::cli {

StationStreamBuf::int_type StationStreamBuf::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    Put(traits_type::to_char_type(ch));
    return failed_ ? traits_type::eof() : ch;
}

std::streamsize StationStreamBuf::xsputn(const char* text, std::streamsize count) {
    for (std::streamsize i = 0; i < count; ++i) Put(text[i]);
    return failed_ ? 0 : count;
}

int StationStreamBuf::sync() {
    if (!line_.empty()) FlushLine();
    return failed_ ? -1 : 0;
}

void StationStreamBuf::Put(char c) {
    if (c == '\n' || c == '\r') {
        // An empty redraw ("\r" after "\n") is no line of its own.
        if (c == '\n' || !line_.empty()) FlushLine();
        return;
    }
    line_ += c;
}

bool StationStreamBuf::FlushLine() {
    std::lock_guard<std::mutex> hold(lock_);
    shared_ << prefix_ << line_ << '\n';
    shared_.flush();
    line_.clear();
    if (!shared_) failed_ = true;
    return !failed_;
}

}  // namespace farsend::cli

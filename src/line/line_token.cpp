#include "line/line_token.h"

#include <fstream>
#include <random>

namespace farsend::line {

std::string MakeToken() {
    std::random_device random;
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 4; ++i) {
        const unsigned int word = random();
        for (int nibble = 0; nibble < 8; ++nibble) token += kHex[(word >> (4 * nibble)) & 0xF];
    }
    return token;
}

std::optional<std::string> ReadTokenFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return std::nullopt;
    }
    std::string line;
    std::getline(in, line);
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!line.empty() && blank(line.back())) line.pop_back();
    while (!line.empty() && blank(line.front())) line.erase(line.begin());
    if (line.size() < 16) {
        error = path + ": the token on its first line is shorter than 16 characters";
        return std::nullopt;
    }
    for (char c : line) {
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) {
            error = path + ": the token may hold only printable characters without spaces";
            return std::nullopt;
        }
    }
    return line;
}

}  // namespace farsend::line

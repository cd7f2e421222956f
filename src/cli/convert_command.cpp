// farsend convert IN [OUT]: a firmware file of any format read as a run
// would read it, written in the token format (the form the window program
// reads) or, with --to, as Intel HEX or S-records.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "firmware/firmware_selection.h"
#include "firmware/image_names.h"
#include "firmware/platform_paths.h"
#include "protocol/image_format.h"
#include "protocol/image_text.h"
#include "protocol/image_writers.h"

namespace farsend::cli {

namespace {

namespace fs = std::filesystem;

const char* Extension(protocol::ImageFormat format) {
    switch (format) {
        case protocol::ImageFormat::IntelHex:
            return ".ihex";
        case protocol::ImageFormat::SRecord:
            return ".srec";
        default:
            return ".hex";  // the auto-selection takes Farsend*.hex
    }
}

std::string Written(const std::vector<protocol::ImageSegment>& segments,
                    protocol::ImageFormat format) {
    switch (format) {
        case protocol::ImageFormat::IntelHex:
            return protocol::WriteIntelHex(segments);
        case protocol::ImageFormat::SRecord:
            return protocol::WriteSRecords(segments);
        default:
            // CR LF: the window program's users open these files on Windows.
            return protocol::FormatImageText(segments, true);
    }
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    if (fs::equivalent(fs::u8path(a), fs::u8path(b), error)) return true;
    return fs::absolute(fs::u8path(a), error).lexically_normal() ==
           fs::absolute(fs::u8path(b), error).lexically_normal();
}

// Written beside OUT first and renamed over it, so that a full disk never
// leaves half a firmware file under OUT's name.
std::optional<std::string> WriteWhole(const std::string& path, const std::string& text) {
    const std::string part = path + ".part";
    std::FILE* file = std::fopen(part.c_str(), "wb");
    if (file == nullptr) return path + ": cannot be written";
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    std::error_code error;
    if (!written || !closed) {
        fs::remove(fs::u8path(part), error);
        return path + ": cannot be written whole (disk full?); nothing was written";
    }
    fs::rename(fs::u8path(part), fs::u8path(path), error);
    if (error) {
        fs::remove(fs::u8path(part), error);
        return path + ": cannot be written";
    }
    return std::nullopt;
}

}  // namespace

int RunConvert(const CliOptions& options, Console& console) {
    const std::string& in = options.file;
    if (firmware::IsExistingDirectory(in)) {
        Complain(console, in + ": a directory, not a firmware file");
        return kExitFirmwareFile;
    }
    const protocol::ImageSnapshot snapshot = protocol::TakeImageSnapshot(in);
    if (snapshot.status != protocol::ImageSnapshot::Status::Read) {
        Complain(console, in + (firmware::IsExistingRegularFile(in) ? ": cannot be read"
                                                                    : ": no such file"));
        return kExitFirmwareFile;
    }
    const protocol::ImageContents contents =
        protocol::ReadImageContents(*snapshot.bytes, options.imageRead);
    std::optional<protocol::ImageFormatError> error = contents.image.error;
    if (!error && contents.image.segments.empty()) {
        error.emplace();
        error->kind = protocol::ImageFormatErrorKind::NoData;
        error->place = protocol::ImageErrorPlace::WholeFile;
    }
    if (error) {
        Complain(console, in + ": " + protocol::ImageFormatTitle(contents.format) +
                              protocol::DescribeImageFormatError(*error) +
                              "\nNothing was written.");
        return kExitFirmwareFile;
    }

    std::string out = options.output;
    if (out.empty()) {
        out = fs::u8path(in).replace_extension(Extension(options.convertTo)).u8string();
    }
    if (SameFile(in, out)) {
        Complain(console, out + " is the file being read: give OUT, another name");
        return kExitUsage;
    }
    if (!options.force &&
        (firmware::IsExistingRegularFile(out) || firmware::IsExistingDirectory(out))) {
        Complain(console, out + " exists: give another OUT, or --force to replace it");
        return kExitUsage;
    }
    const std::string text = Written(contents.image.segments, options.convertTo);
    if (auto problem = WriteWhole(out, text)) {
        Complain(console, *problem);
        return kExitFirmwareFile;
    }

    std::uint64_t bytes = 0;
    for (const protocol::ImageSegment& segment : contents.image.segments) {
        bytes += segment.bytes.size();
    }
    if (!options.quiet) {
        console.out << in << " (" << protocol::ImageFormatName(contents.format) << ") -> " << out
                    << " (" << protocol::ImageFormatName(options.convertTo)
                    << "): " << contents.image.segments.size() << " segments, " << bytes
                    << " bytes\n";
    }
    const std::string name = firmware::GetFileNamePart(out);
    if (options.convertTo == protocol::ImageFormat::Token && !firmware::IsFirmwareFileName(name)) {
        console.err << "note: " << name
                    << " is not found by auto-selection, which takes Farsend*.hex names; "
                       "name it on the command line\n";
    }
    return kExitSuccess;
}

}  // namespace farsend::cli

#include "cli/line_page.h"

#include "cli/exit_status.h"
#include "cli/run_image.h"
#include "common/database_name.h"
#include "firmware/image_names.h"
#include "line/line_token.h"
#include "protocol/image_reader.h"

namespace farsend::cli {
namespace {

// The PC's name is worth showing only where several PCs' stations meet: a
// database the whole line shares.
bool SharedDatabase(const std::string& db) {
    return db.rfind("postgresql://", 0) == 0;
}

}  // namespace

std::string AdviceFor(int status, bool unplugged) {
    if (unplugged) return "Plug the bridge back in, then put the board in again.";
    switch (status) {
        case kExitDoesNotFit:
            return "This board is not the kind the file is for: set it aside.";
        case kExitCommunication:
            return "Check that the board sits well in the socket, then press Retry.";
        case kExitEraseError:
            return "Its flash would not erase: set the board aside as faulty.";
        case kExitFirmwareFile:
        case kExitDatabase:
        case kExitNoSerialLeft:
        case kExitNotRecorded:
            return "The line cannot go on like this: call the line's engineer.";
        default:
            return "Take the board out and put it in again.";
    }
}

LinePage::LinePage(const CliOptions& options, std::string token)
    : host_(SharedDatabase(options.db) ? HostOf(options) : std::string()),
      state_(RealClock(), line::WallMillisNow),
      server_(state_, actions_, std::move(token)) {}

LinePage::~LinePage() {
    server_.Stop();
}

std::unique_ptr<LinePage> LinePage::Open(const CliOptions& options, Console& console, int& status) {
    line::ListenAddress address;
    std::string error;
    if (!options.listen.empty()) {
        auto parsed = line::ParseListenAddress(options.listen, error);
        if (!parsed) {
            Complain(console, error);
            status = kExitUsage;
            return nullptr;
        }
        address = *parsed;
    }
    std::string token;
    if (!options.tokenFile.empty()) {
        auto read = line::ReadTokenFile(options.tokenFile, error);
        if (!read) {
            Complain(console, "--token-file " + error);
            status = kExitUsage;
            return nullptr;
        }
        token = *read;
    } else {
        token = line::MakeToken();
    }
    std::unique_ptr<LinePage> page(new LinePage(options, token));
    if (!page->server_.Start(address, error)) {
        Complain(console, error);
        status = kExitUsage;
        return nullptr;
    }
    const bool v6 = address.host.find(':') != std::string::npos;
    const std::string shown = v6 ? "[" + address.host + "]" : address.host;
    const std::string url = "http://" + shown + ":" + std::to_string(page->server_.Port()) + "/";
    // The token in the address's fragment never reaches a server or a log:
    // the page takes it from there.
    std::string text = "the line page is at " + url;
    if (options.tokenFile.empty()) {
        text += "#token=" + token + "\nThe token for its actions: " + token;
    } else {
        text += " (the token is the one in " + options.tokenFile + ")";
    }
    if (!page->server_.OnLoopback()) {
        text += "\nServed beyond this PC: every view and action needs the token.";
    }
    console.err << "farsend: " << text << '\n';
    console.err.flush();
    return page;
}

void LinePage::SetJob(const std::string& path, const RunImage& image, const CliOptions& options) {
    line::JobHeader header;
    header.file = firmware::GetFileNamePart(path);
    header.sha256 = image.Sha256();
    header.mode = options.factory ? "factory" : "application";
    const protocol::ProgrammingPlan plan =
        protocol::PlanProgrammingBytes(image.Bytes(), options.imageRead);
    for (const protocol::FlashBlock& block : plan.blocks) header.imageBytes += block.count;
    state_.SetHeader(header);
}

std::size_t LinePage::AddStation(const std::string& name, const std::string& bridgeSerial) {
    const std::size_t index = state_.AddStation(name, host_, bridgeSerial);
    feeds_.push_back(std::make_unique<line::StationFeed>(state_, index));
    return index;
}

void LinePage::UnitDone(std::size_t station, const units::UnitRecord& record,
                        const UnitVerdict& verdict, bool unplugged, bool held) {
    line::UnitEnd end;
    end.passed = verdict.passed;
    end.unplugged = unplugged;
    if (record.serial) end.serial = std::to_string(*record.serial);
    if (!verdict.passed) {
        end.reason = verdict.words;
        end.advice =
            AdviceFor(record.finish ? record.finish->exitStatus : kExitCommunication, unplugged);
        // A board on a bridge that is gone cannot be tried again from here.
        end.held = held && !unplugged;
    }
    state_.UnitDone(station, end);
}

void LinePage::Retrying(std::size_t station) {
    state_.Change(station, [](line::Tile& tile) {
        tile.held = false;
        tile.advice = "Trying the board again.";
    });
}

void LinePage::SetStopped(std::size_t station, bool stopped) {
    state_.Change(station, [stopped](line::Tile& tile) { tile.stopped = stopped; });
}

}  // namespace farsend::cli

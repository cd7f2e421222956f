// The erase and programming jobs: one run against the connected target each,
// on the link the connection monitor opened. A worker drives the exchanges
// and tells the station's observer what it does as it does it: its progress,
// each problem (where a box is shown), a programming run's end of data, and
// last its outcome (station_events.h). It clears its station's busy flag on
// every path, before that last event. What a front end does with the events
// (bars, boxes, closing the link after a lost target, ending itself) is its
// own business.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jobs/firmware_choice.h"
#include "jobs/job_report.h"
#include "jobs/message.h"
#include "jobs/station_events.h"
#include "jobs/station_state.h"
#include "protocol/exchange_context.h"
#include "protocol/image_format.h"
#include "protocol/serial_stamp.h"

namespace farsend::jobs {

// A unit's own serial number: its bytes go into every block that covers
// the placement, as the block goes out. Whoever chose the number checked the
// placement against the whole image and the number against its size.
struct UnitSerial {
    protocol::SerialSpec spec;
    std::vector<std::uint8_t> bytes;  // protocol::SerialBytes(spec, number)
};

// What a job works with. Everything outlives the job.
struct JobEnvironment {
    StationState& station;
    protocol::ExchangeContext& exchanges;
    // Told what the job does (station_events.h); null: nobody listens.
    StationObserver* observer = nullptr;
    // None: the image goes out as the file has it.
    const UnitSerial* serial = nullptr;
    // Set by another thread to end a programming run before its next block
    // (the run then tells the target to leave it and ends Interrupted).
    const std::atomic<bool>* stop = nullptr;
    // The image a run of many units read once at its start and checked: a
    // programming job sends these bytes, whatever the file holds now. None:
    // the job reads its file at its own start (the window program).
    std::shared_ptr<const std::string> image = nullptr;
    // How a programming job reads its file; none: the token format alone
    // (the window program). farsend's formats: from the content, or forced.
    const protocol::ImageReadOptions* imageFormat = nullptr;
};

// The texts the workers show. Captions: "Error", "Erase Error", "File Error".
extern const char* const kCommunicationErrorText;
// "Unexpected Error encountered erasing Block: <block>.\nTerminating operation."
std::string EraseErrorText(uint32_t block);
// The application and the bootloader worker spell these differently.
const char* FileOpenErrorText(JobKind kind);
const char* FileCloseErrorText(JobKind kind);
// A malformed firmware file, naming the file and the place in it.
// `beforeStart`: found before anything was sent to the target.
std::string FileFormatErrorText(const std::string& path, const protocol::ImageFormatError& error,
                                bool beforeStart);
// The box a job shows for `problem`: text, caption ("Error", "Erase Error",
// "File Error") and style.
Message JobProblemMessage(const events::JobProblem& problem);

// Erase-only jobs: start the erase, one step per erased block until Done.
// Clear erasingBusy.
JobReport EraseDefaultWorker(const JobEnvironment& environment);
JobReport EraseAllWorker(const JobEnvironment& environment);

// Programming jobs on the file at `path`: read it whole into
// memory once (refused before the target is touched when that fails; the
// environment's image instead, when it has one), check
// that snapshot's format, start the run, follow the erasing, send the
// snapshot block by block with the progress after the position in it, end
// the data. Clear programmingBusy.
JobReport ProgramApplicationWorker(const JobEnvironment& environment, const std::string& path);
JobReport ProgramBootloaderWorker(const JobEnvironment& environment, const std::string& path);

// The programming job of a flash mode.
JobKind ProgrammingJobFor(FlashMode mode);

// The worker of `kind`; `path` is the file a programming job programs (the
// erase jobs have none).
JobReport RunJobWorker(JobKind kind, const std::string& path, const JobEnvironment& environment);

}  // namespace farsend::jobs

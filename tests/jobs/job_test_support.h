// What the job and monitor tests share: a simulated target behind the real
// link, reader thread and exchanges, in virtual time; the window program's
// job dialog and main window (their real translation of a station's events
// into commands), recording what reaches them; a gate for the monitor's
// pauses; image files of exact sizes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/command_ids.h"
#include "app/job_window.h"
#include "app/main_window_port.h"
#include "app/tool_settings.h"
#include "app/window_station.h"
#include "jobs/job_report.h"
#include "jobs/station_events.h"
#include "jobs/station_host.h"
#include "link/hid_serial_link.h"
#include "protocol/exchange_context.h"
#include "sim/sample_firmware.h"
#include "sim/serial_endpoint.h"
#include "sim/simulation.h"
#include "sim/target_packets.h"
#include "support/virtual_clock.h"

namespace farsend::testing {

// Passes the simulated target's output on until a rule says to fall silent:
// from then on the host hears nothing more (the target keeps running).
class MutingEndpoint final : public sim::SerialEndpoint {
public:
    explicit MutingEndpoint(sim::SerialEndpoint& inner) : inner_(inner) {}

    // Silent after the target has sent this many BlockErased packets.
    void MuteAfterBlocksErased(int count) {
        std::lock_guard<std::mutex> lock(mutex_);
        erasedLimit_ = count;
    }
    // Silent once the host has sent this command (by its code byte).
    void MuteAfterCommand(uint8_t code) {
        std::lock_guard<std::mutex> lock(mutex_);
        muteCommand_ = code;
    }

    // Called with each command's code byte as the host sends it, before the
    // target sees it. Set it before any thread uses the link.
    std::function<void(uint8_t)> onCommand;

    void OnHostBytes(const uint8_t* data, size_t length, Millis now) override {
        // Commands go out whole, in one write of their own.
        const bool command = length == 4 && data[0] == sim::packets::kCommandLead;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (command && muteCommand_ >= 0 && data[1] == muteCommand_) muted_ = true;
        }
        if (command && onCommand) onCommand(data[1]);
        inner_.OnHostBytes(data, length, now);
    }
    Millis CollectTargetBytes(Millis now, std::vector<uint8_t>& out) override {
        std::vector<uint8_t> bytes;
        const Millis next = inner_.CollectTargetBytes(now, bytes);
        std::lock_guard<std::mutex> lock(mutex_);
        // The target's packets are 4 bytes long except query replies, which
        // these tests do not mute around.
        for (uint8_t byte : bytes) {
            if (muted_) break;
            packet_.push_back(byte);
            out.push_back(byte);
            if (packet_.size() == 4) {
                const bool erased = packet_[0] == sim::packets::kResponseLead &&
                                    packet_[1] == sim::packets::kStatusMarker &&
                                    packet_[2] == sim::packets::kStatusBlockErased;
                packet_.clear();
                if (erased && ++erased_ == erasedLimit_) muted_ = true;
            }
        }
        return next;
    }
    void OnBridgeOpened(Millis now) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            packet_.clear();
        }
        inner_.OnBridgeOpened(now);
    }
    void OnBridgeClosed(Millis now) override { inner_.OnBridgeClosed(now); }

private:
    sim::SerialEndpoint& inner_;
    std::mutex mutex_;
    std::vector<uint8_t> packet_;
    int erasedLimit_ = -1;
    int erased_ = 0;
    int muteCommand_ = -1;
    bool muted_ = false;
};

// A simulated target behind the simulated bridge, the real link with its
// reader thread, and the exchanges over it, all in virtual time.
class SimRig {
public:
    explicit SimRig(sim::SimOptions options = DefaultOptions()) {
        options.simulate = true;
        std::string error;
        simulation = sim::Simulation::Create(options, error, &clock);
        EXPECT_TRUE(simulation) << error;
        simulation->AttachLink(link);
        muting = std::make_unique<MutingEndpoint>(simulation->Target());
        simulation->Bridge().AttachEndpoint(muting.get());
    }
    ~SimRig() {
        link::HidLinkStop(link);
        simulation->Bridge().AttachEndpoint(&simulation->Target());
    }

    static sim::SimOptions DefaultOptions() {
        sim::SimOptions options;
        options.simulate = true;
        return options;
    }

    // The codes of the commands the target took, in order.
    std::vector<uint8_t> CommandCodes() const {
        std::vector<uint8_t> codes;
        for (const sim::ReceivedCommand& command : simulation->Target().Commands()) {
            codes.push_back(command.code);
        }
        return codes;
    }
    bool TargetReceived(uint8_t code) const {
        const std::vector<uint8_t> codes = CommandCodes();
        return std::find(codes.begin(), codes.end(), code) != codes.end();
    }

    VirtualClock clock;
    link::HidSerialLink link;
    std::unique_ptr<sim::Simulation> simulation;
    std::unique_ptr<MutingEndpoint> muting;
    protocol::ExchangeContext exchanges{link};
};

// Records what reaches the main window. Commands are handed to `onCommand`
// (if set) on the sending thread, after being recorded. As the station's
// host it asks for the job as the window program does (610); its
// `observer` is the window program's (refusal boxes, connection text).
class RecordingMainWindow final : public app::MainWindowPort, public jobs::StationHost {
public:
    explicit RecordingMainWindow(app::ToolSettings& settings) : settings_(settings) {}

    jobs::MessageAnswer ShowMessage(const jobs::Message& message) override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(message);
        calls_.push_back("message:" + message.caption);
        return jobs::MessageAnswer::Ok;
    }
    void SendCommand(int command) override {
        std::function<void(int)> handler;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            calls_.push_back("command:" + std::to_string(command));
            handler = onCommand;
        }
        if (handler) handler(command);
    }
    void RefreshConnectionText() override {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool connected = settings_.connectionState == app::ConnectionState::Connected;
        calls_.push_back(connected ? "status:CONNECTED" : "status:NOT CONNECTED");
    }
    void ProgramTarget() override { host_.ProgramTarget(); }

    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    std::vector<jobs::Message> Messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    std::vector<int> Commands() const {
        std::vector<int> commands;
        for (const std::string& call : Calls()) {
            if (call.rfind("command:", 0) == 0) commands.push_back(std::stoi(call.substr(8)));
        }
        return commands;
    }

    std::function<void(int)> onCommand;
    app::WindowStationObserver observer{*this};

private:
    app::ToolSettings& settings_;
    app::MainWindowHost host_{*this};
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<jobs::Message> messages_;
};

// The window program's job dialog on a job, recording in order, from
// whatever thread, what reaches the dialog ("erase", "program", "end",
// "message:<caption>") with the job's start ("begin") and blocks
// ("block:<bytes>") beside them; the main window gets 650 and 660.
class RecordingDialog final : public jobs::StationObserver, private app::JobDialogPort {
public:
    // Every event then goes on to `next`, if any.
    explicit RecordingDialog(app::MainWindowPort& mainWindow, jobs::StationObserver* next = nullptr)
        : next_(next), window_(*this, mainWindow, &tail_) {}

    void OnStationEvent(const jobs::StationEvent& event) override { window_.OnStationEvent(event); }

    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    std::vector<jobs::Message> Messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    std::vector<jobs::JobReport> Reports() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    int Count(const std::string& call) const {
        const std::vector<std::string> calls = Calls();
        return static_cast<int>(std::count(calls.begin(), calls.end(), call));
    }

    // Called (under the recorder's lock) with each message; set before use.
    std::function<void(const jobs::Message&)> onMessage;
    // Called on the first erase step; set before use.
    std::function<void()> onFirstEraseStep;

private:
    // What the dialog does not show: the job's start, its blocks and its
    // report.
    struct Tail final : jobs::StationObserver {
        explicit Tail(RecordingDialog& owner) : owner(owner) {}
        void OnStationEvent(const jobs::StationEvent& event) override {
            if (std::holds_alternative<jobs::events::JobStarted>(event)) {
                owner.Record("begin");
            } else if (const auto* block = std::get_if<jobs::events::BlockSent>(&event)) {
                owner.Record("block:" + std::to_string(block->blockBytes));
            } else if (const auto* finished = std::get_if<jobs::events::Finished>(&event)) {
                std::lock_guard<std::mutex> lock(owner.mutex_);
                owner.reports_.push_back(finished->report);
            }
            jobs::Tell(owner.next_, event);
        }
        RecordingDialog& owner;
    };

    void SendDialogCommand(int command) override {
        switch (command) {
            case app::kDialogCommandStepErase:
                Record("erase");
                return;
            case app::kDialogCommandStepProgram:
                Record("program");
                return;
            case app::kDialogCommandEnd:
                Record("end");
                return;
            default:
                Record("command:" + std::to_string(command));
        }
    }
    void ShowMessage(const jobs::Message& message) override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(message);
        calls_.push_back("message:" + message.caption);
        if (onMessage) onMessage(message);
    }
    void Record(std::string call) {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (call == "erase" && !erased_) {
                erased_ = true;
                hook = onFirstEraseStep;
            }
            calls_.push_back(std::move(call));
        }
        if (hook) hook();
    }

    jobs::StationObserver* const next_;
    Tail tail_{*this};
    app::JobWindow window_;
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<jobs::Message> messages_;
    std::vector<jobs::JobReport> reports_;
    bool erased_ = false;
};

// The monitor's pauses under the test's control: each pause waits until the
// test grants one (or a stop wakes it), then moves virtual time on. In free
// mode every pause passes at once (after a short real sleep, so that a
// monitor idling beside other threads does not spin).
class GatedClock final : public Clock {
public:
    Millis Now() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return now_;
    }
    void SleepFor(Millis duration) override { Pause(nullptr, duration); }
    bool WaitFor(WakeSignal& signal, Millis timeout) override { return Pause(&signal, timeout); }

    void Grant(int pauses) {
        std::lock_guard<std::mutex> lock(mutex_);
        grants_ += pauses;
        changed_.notify_all();
    }
    void SetFree(bool free) {
        std::lock_guard<std::mutex> lock(mutex_);
        free_ = free;
        changed_.notify_all();
    }
    // Waits (real time, bounded) until `count` pauses have been asked for and
    // the last of them is held at the gate.
    bool WaitHeld(int count, std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return asked_ >= count && held_; });
    }
    // Waits (real time, bounded) until `count` pauses have run out and the
    // next one is held at the gate.
    bool WaitPassed(size_t count, std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return passed_.size() >= count && held_; });
    }
    // Whether `count` pauses have been asked for and the last is held, now.
    bool Held(int count) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return asked_ >= count && held_;
    }
    // The durations of the pauses taken (granted or woken), in order.
    std::vector<Millis> Taken() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return taken_;
    }
    int Asked() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return asked_;
    }
    // The thread of each pause that ran out (was not ended by a stop).
    std::vector<std::thread::id> Passed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return passed_;
    }
    // The thread that asked for each pause, in order.
    std::vector<std::thread::id> Askers() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return askers_;
    }

private:
    bool Pause(WakeSignal* signal, Millis duration) {
        std::unique_lock<std::mutex> lock(mutex_);
        ++asked_;
        askers_.push_back(std::this_thread::get_id());
        for (;;) {
            if (signal != nullptr && signal->Consume()) {
                held_ = false;
                taken_.push_back(Millis(0));
                changed_.notify_all();
                return true;
            }
            if (free_ || grants_ > 0) {
                if (!free_) --grants_;
                held_ = false;
                now_ += duration;
                taken_.push_back(duration);
                passed_.push_back(std::this_thread::get_id());
                changed_.notify_all();
                if (free_) {
                    lock.unlock();
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
                return false;
            }
            if (!held_) {
                held_ = true;
                changed_.notify_all();
            }
            // The stop signal cannot be waited on here; look again shortly.
            changed_.wait_for(lock, std::chrono::milliseconds(1));
        }
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Millis now_{0};
    int grants_ = 0;
    bool free_ = false;
    int asked_ = 0;
    bool held_ = false;
    std::vector<Millis> taken_;
    std::vector<std::thread::id> askers_;
    std::vector<std::thread::id> passed_;
};

// An image of `runs` written to `path` and padded with blanks (after a line
// end) to exactly `size` bytes.
inline void WriteImageOfSize(const std::filesystem::path& path,
                             const std::vector<sim::ImageRun>& runs, size_t size) {
    std::string text = sim::FormatImage(runs);
    ASSERT_LE(text.size(), size);
    text.append(size - text.size(), ' ');
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size());
    std::fclose(file);
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size());
    std::fclose(file);
}

// The text of one run of `count` data bytes at `address`, exactly `size`
// bytes long and ending with its last token: the blanks that make up the
// length stand between the address and the first byte.
inline std::string ExactImageText(uint32_t address, size_t count, size_t size) {
    char addressToken[16];
    std::snprintf(addressToken, sizeof addressToken, "%08X", address);
    std::string bytes;
    for (size_t i = 0; i < count; ++i) {
        char token[4];
        std::snprintf(token, sizeof token, "%02X", static_cast<unsigned>((i * 7 + 3) & 0xFF));
        bytes += i == 0 ? "" : (i % 16 == 0 ? "\n" : " ");
        bytes += token;
    }
    const size_t fixed = 8 + bytes.size();
    EXPECT_LT(fixed, size);
    return std::string(addressToken) + std::string(size - fixed, ' ') + bytes;
}

// `count` bytes from `address` on, the pattern of ExactImageText.
inline sim::ImageRun PatternRun(uint32_t address, size_t count) {
    sim::ImageRun run;
    run.address = address;
    for (size_t i = 0; i < count; ++i) run.data.push_back(static_cast<uint8_t>(i * 7 + 3));
    return run;
}

// What the target's flash must hold after `runs` were programmed.
inline sim::FlashContents ContentsOf(const std::vector<sim::ImageRun>& runs) {
    sim::FlashContents flash;
    for (const sim::ImageRun& run : runs) {
        for (size_t i = 0; i < run.data.size(); ++i) {
            flash[run.address + static_cast<uint32_t>(i)] = run.data[i];
        }
    }
    return flash;
}

}  // namespace farsend::testing

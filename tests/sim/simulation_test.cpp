// The composition the entry points use: options reach the bridge and the
// target, the serial log and the flash-out file are written, and the link is
// let go safely when the simulation ends.
#include "sim/simulation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "protocol/exchanges.h"
#include "protocol/image_reader.h"
#include "support/temp_directory.h"
#include "support/virtual_clock.h"

namespace farsend::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes CommandBytes(protocol::Command command) {
    const protocol::CommandPacket& p = protocol::GetCommandPacket(command);
    return Bytes{uint8_t(p[0]), uint8_t(p[1]), uint8_t(p[2]), uint8_t(p[3])};
}

// A simulation in virtual time with a link attached. The link outlives the
// simulation, which closes and detaches it.
struct Session {
    explicit Session(SimOptions options) {
        options.simulate = true;
        simulation = Simulation::Create(options, error, &clock);
        if (simulation) simulation->AttachLink(link);
    }
    farsend::testing::VirtualClock clock;
    link::HidSerialLink link;
    std::string error;
    std::unique_ptr<Simulation> simulation;
    protocol::ExchangeContext context{link};
};

struct ReportCase {
    std::string name;
    uint32_t reportLength;
    bool legacy;
};

class SimulationReports : public ::testing::TestWithParam<ReportCase> {};

TEST_P(SimulationReports, TheLinkSeesTheBridgeTheOptionsAskFor) {
    SimOptions options;
    options.report_length = GetParam().reportLength;
    options.legacy_hid = GetParam().legacy;
    Session s(options);
    ASSERT_TRUE(s.simulation) << s.error;
    ASSERT_EQ(protocol::ConnectTarget(s.context), protocol::ExchangeResult::Ok);
    EXPECT_EQ(s.link.caps.inputReportByteLength, GetParam().reportLength);
    EXPECT_EQ(s.link.caps.outputReportByteLength, GetParam().reportLength);
    EXPECT_EQ(s.link.win98Mode, GetParam().legacy ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, SimulationReports,
                         ::testing::Values(ReportCase{"Report65", 65, false},
                                           ReportCase{"Report9", 9, false},
                                           ReportCase{"Report33Legacy", 33, true}),
                         [](const auto& info) { return info.param.name; });

TEST(Simulation, SerialLogHoldsEveryByteTheTargetReceivedAcrossConnections) {
    farsend::testing::TempDirectory directory;
    const std::filesystem::path log = directory.path() / "serial.bin";
    SimOptions options;
    options.serial_log = log.string();
    options.targets = 2;
    {
        Session s(options);
        ASSERT_TRUE(s.simulation) << s.error;
        ASSERT_EQ(protocol::ConnectTarget(s.context), protocol::ExchangeResult::Ok);
        protocol::TargetIdentity identity;
        ASSERT_EQ(protocol::QueryTargetVersion(s.context, &identity), protocol::ExchangeResult::Ok);
        ASSERT_EQ(protocol::LaunchTargetApplication(s.context), protocol::ExchangeResult::Ok);
        ASSERT_EQ(protocol::ConnectTarget(s.context), protocol::ExchangeResult::Ok);
        EXPECT_EQ(s.simulation->Target().TargetsArrived(), 2u);
    }
    using protocol::Command;
    Bytes expected;
    for (Command c :
         {Command::Ack, Command::QueryVersion, Command::StartApplication, Command::Ack}) {
        const Bytes b = CommandBytes(c);
        expected.insert(expected.end(), b.begin(), b.end());
    }
    EXPECT_EQ(ReadAll(log), expected);
}

TEST(Simulation, ASerialLogThatCannotBeCreatedIsRefusedByName) {
    farsend::testing::TempDirectory directory;
    SimOptions options;
    options.serial_log = (directory.path() / "missing" / "serial.bin").string();
    std::string error;
    EXPECT_EQ(Simulation::Create(options, error), nullptr);
    EXPECT_NE(error.find(options.serial_log), std::string::npos) << error;
}

// Programs one block of three bytes and ends the run.
void ProgramThreeBytes(protocol::ExchangeContext& context) {
    ASSERT_EQ(protocol::ConnectTarget(context), protocol::ExchangeResult::Ok);
    ASSERT_EQ(protocol::BeginProgramApplication(context), protocol::ExchangeResult::Ok);
    while (protocol::AwaitResponse(context) == protocol::ResponseCode::BlockErased) {
    }
    protocol::FlashBlock block;
    block.baseAddress = 0x4000;
    block.data[0] = 0xA1;
    block.data[1] = 0xB2;
    block.data[2] = 0xC3;
    block.count = 3;
    block.check = protocol::ComputeBlockCheck(block);
    ASSERT_EQ(protocol::SendFlashBlock(context, block), protocol::ExchangeResult::Ok);
    ASSERT_EQ(protocol::SendEndOfData(context), protocol::ExchangeResult::Ok);
}

TEST(Simulation, FlashOutIsWrittenByFinishOrAtTheEnd) {
    for (bool explicitFinish : {true, false}) {
        SCOPED_TRACE(explicitFinish ? "Finish" : "destructor");
        farsend::testing::TempDirectory directory;
        const std::filesystem::path out = directory.path() / "flash.hex";
        SimOptions options;
        options.flash_out = out.string();
        FlashContents flash;
        {
            Session s(options);
            ASSERT_TRUE(s.simulation) << s.error;
            ProgramThreeBytes(s.context);
            flash = s.simulation->Target().Flash();
            if (explicitFinish) {
                std::string error;
                EXPECT_TRUE(s.simulation->Finish(error)) << error;
                EXPECT_TRUE(std::filesystem::exists(out));
            }
        }
        EXPECT_EQ(flash, (FlashContents{{0x4000, 0xA1}, {0x4001, 0xB2}, {0x4002, 0xC3}}));
        const auto plan = protocol::PlanProgrammingFile(out.string());
        ASSERT_TRUE(plan.has_value());
        ASSERT_EQ(plan->blocks.size(), 1u);
        EXPECT_EQ(plan->blocks[0].baseAddress, 0x4000u);
        EXPECT_EQ(plan->blocks[0].count, 3u);
        EXPECT_TRUE(plan->endsWithEndOfData);
    }
}

TEST(Simulation, AFlashOutThatCannotBeWrittenIsReportedEachTime) {
    farsend::testing::TempDirectory directory;
    SimOptions options;
    options.flash_out = (directory.path() / "missing" / "flash.hex").string();
    Session s(options);
    ASSERT_TRUE(s.simulation) << s.error;
    std::string first;
    std::string second;
    EXPECT_FALSE(s.simulation->Finish(first));
    EXPECT_FALSE(s.simulation->Finish(second));
    EXPECT_NE(first.find("flash.hex"), std::string::npos) << first;
    EXPECT_EQ(first, second);
}

TEST(Simulation, EndingWithTheLinkOpenClosesAndDetachesIt) {
    farsend::testing::VirtualClock clock;
    link::HidSerialLink link;
    protocol::ExchangeContext context(link);
    std::string error;
    SimOptions options;
    options.simulate = true;
    auto simulation = Simulation::Create(options, error, &clock);
    ASSERT_TRUE(simulation);
    simulation->AttachLink(link);
    ASSERT_EQ(protocol::ConnectTarget(context), protocol::ExchangeResult::Ok);
    ASSERT_TRUE(link.reader);
    simulation.reset();
    EXPECT_FALSE(link.reader);
    EXPECT_EQ(link.writeHandle, link::kNoHandle);
    EXPECT_EQ(link.platform, nullptr);
    EXPECT_EQ(link.clock, nullptr);
    // With no platform the next attempt fails cleanly.
    EXPECT_EQ(protocol::ConnectTarget(context), protocol::ExchangeResult::LinkNotOpened);
}

TEST(Simulation, TheUnplugFaultTakesTheBridgeAway) {
    SimOptions options;
    options.faults.unplug_after = 8;
    Session s(options);
    ASSERT_TRUE(s.simulation) << s.error;
    EXPECT_EQ(protocol::ConnectTarget(s.context), protocol::ExchangeResult::Ok);
    EXPECT_TRUE(s.simulation->Plug().Plugged());
    // The query's last byte is the eighth: the bridge goes before the reply.
    protocol::TargetIdentity identity;
    EXPECT_EQ(protocol::QueryTargetVersion(s.context, &identity),
              protocol::ExchangeResult::ReplyMissing);
    EXPECT_FALSE(s.simulation->Plug().Plugged());
    EXPECT_FALSE(s.simulation->Bridge().Plugged());
    EXPECT_EQ(protocol::DisconnectTarget(s.context), protocol::ExchangeResult::Ok);
    EXPECT_EQ(protocol::ConnectTarget(s.context), protocol::ExchangeResult::LinkNotOpened);
}

}  // namespace
}  // namespace farsend::sim

#include "cli/connect_only_commands.h"

#include <optional>
#include <string>

#include "app/commands.h"
#include "cli/exit_status.h"
#include "cli/unit_status.h"
#include "common/printable_text.h"
#include "protocol/exchanges.h"

namespace farsend::cli {

bool AskEraseAll(Console& console) {
    const jobs::Message warning = app::EraseAllWarning();
    console.err << OneLine(warning.text) << "\nErase all of the target's flash? [y/N] ";
    console.err.flush();
    std::string answer;
    if (!std::getline(console.in, answer)) return false;
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes";
}

int IdentifyTarget(Session& session, Console& console, const CliOptions& options) {
    protocol::TargetIdentity identity;
    const protocol::ExchangeResult variantStatus =
        protocol::QueryTargetVariant(session.Exchanges(), &identity.variant);
    const protocol::ExchangeResult versionStatus =
        protocol::QueryTargetVersion(session.Exchanges(), &identity);
    protocol::DisconnectTarget(session.Exchanges());
    const bool variantMissing = variantStatus == protocol::ExchangeResult::ReplyMissing;
    const bool silent = variantMissing || versionStatus == protocol::ExchangeResult::ReplyMissing;
    const units::UnitOutcome outcome =
        silent ? units::UnitOutcome::CommunicationError : units::UnitOutcome::Passed;
    std::optional<std::string> message;
    if (silent) {
        message = std::string("the target did not answer the ") +
                  (variantMissing ? "variant" : "version") + " query";
    }
    const units::UnitRecord record = session.Record(outcome, message);
    const units::UnitFinish& finish = *record.finish;
    if (message) Complain(console, *message);
    if (options.json) {
        session.PrintResult(record);
    } else if (outcome == units::UnitOutcome::Passed) {
        session.Print("variant: " + PrintableText(finish.variant) +
                      "\nversion: " + PrintableText(finish.version));
    }
    return finish.exitStatus;
}

int FinishConnectOnly(const CliOptions& options, Console& console, Session& session,
                      bool eraseAll) {
    int status = kExitSuccess;
    if (!session.Connected()) {
        session.NoTargetMessage();
        status = kExitNoTarget;
    } else if (options.command == Command::Identify) {
        status = IdentifyTarget(session, console, options);
    } else if (options.command == Command::Launch) {
        session.Launch();
        if (options.json) {
            session.PrintResult(session.Record(units::UnitOutcome::Passed));
        } else {
            session.Print("application started");
        }
    } else {
        session.Erase();
        const units::UnitOutcome outcome =
            session.LastUnitOutcome(units::UnitOutcome::CommunicationError);
        status = ExitStatusOf(outcome);
        protocol::DisconnectTarget(session.Exchanges());
        if (options.json) {
            session.PrintResult(session.Record(outcome));
        } else if (status == kExitSuccess) {
            session.Print(eraseAll ? "erased all of the flash" : "erased");
        }
    }
    return status;
}

}  // namespace farsend::cli

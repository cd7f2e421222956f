#include "cli/connect_only_commands.h"

#include <string>

#include "app/commands.h"
#include "cli/exit_status.h"
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
    const int variantStatus = protocol::QueryTargetVariant(session.Exchanges(), &identity.variant);
    const int versionStatus = protocol::QueryTargetVersion(session.Exchanges(), &identity);
    protocol::DisconnectTarget(session.Exchanges());
    UnitRecord record = session.Record(kExitSuccess);
    if (variantStatus == protocol::kReplyMissing || versionStatus == protocol::kReplyMissing) {
        record.status = kExitCommunication;
        record.message = std::string("the target did not answer the ") +
                         (variantStatus == protocol::kReplyMissing ? "variant" : "version") +
                         " query";
        Complain(console, record.message);
    }
    if (options.json) {
        session.PrintResult(record);
    } else if (record.status == kExitSuccess) {
        session.Print("variant: " + PrintableText(record.variant) +
                      "\nversion: " + PrintableText(record.version));
    }
    return record.status;
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
            session.PrintResult(session.Record(kExitSuccess));
        } else {
            session.Print("application started");
        }
    } else {
        session.Erase();
        status = session.LastJob() ? StatusOfJob(*session.LastJob()) : kExitCommunication;
        protocol::DisconnectTarget(session.Exchanges());
        if (options.json) {
            session.PrintResult(session.Record(status));
        } else if (status == kExitSuccess) {
            session.Print(eraseAll ? "erased all of the flash" : "erased");
        }
    }
    return status;
}

}  // namespace farsend::cli

// A farsend.exe child process that a test can watch while it runs: its
// standard output and error go to the files given, and its end is waited for
// with a limit, so that a child that would run for ever fails its test
// instead of stalling the suite. The Windows twin of cli/posix/child_process.h
// without signals, which Windows does not send between processes.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cli/process_runner.h"

namespace farsend::testing {

struct ChildEnd {
    bool exited = false;   // false: still running at the limit
    int status = -1;       // the exit status when it exited
    bool overran = false;  // it had not ended within the limit and was ended
};

class FarsendChild {
public:
    FarsendChild(const std::vector<std::string>& arguments, const std::string& out,
                 const std::string& err) {
        std::string line = "\"" + FarsendExecutable() + "\"";
        for (const std::string& word : arguments) line += " \"" + word + "\"";
        SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
        auto open = [&](const std::string& path, DWORD access, DWORD disposition) {
            return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                               disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        };
        const HANDLE in = open("NUL", GENERIC_READ, OPEN_EXISTING);
        const HANDLE outFile = open(out, GENERIC_WRITE, CREATE_ALWAYS);
        const HANDLE errFile = open(err, GENERIC_WRITE, CREATE_ALWAYS);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in;
        startup.hStdOutput = outFile;
        startup.hStdError = errFile;
        PROCESS_INFORMATION process = {};
        if (in != INVALID_HANDLE_VALUE && outFile != INVALID_HANDLE_VALUE &&
            errFile != INVALID_HANDLE_VALUE &&
            CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                           &startup, &process)) {
            CloseHandle(process.hThread);
            process_ = process.hProcess;
        }
        for (HANDLE handle : {in, outFile, errFile}) {
            if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        }
    }
    ~FarsendChild() {
        if (process_ == nullptr) return;
        if (!Ended()) TerminateProcess(process_, 255);
        CloseHandle(process_);
    }
    FarsendChild(const FarsendChild&) = delete;
    FarsendChild& operator=(const FarsendChild&) = delete;

    bool Started() const { return process_ != nullptr; }

    // Polls `ready` every few milliseconds (real processes, real time) until
    // it holds, the child ends, or `limit` passes. Whether `ready` held.
    bool WaitUntil(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
        const auto giveUp = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < giveUp) {
            if (ready()) return true;
            if (Ended()) return ready();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return ready();
    }

    // Waits for the end; a child still running after `limit` is ended.
    ChildEnd Wait(std::chrono::milliseconds limit) {
        ChildEnd end;
        if (WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
            end.overran = true;
            TerminateProcess(process_, 255);
            WaitForSingleObject(process_, INFINITE);
            return end;
        }
        DWORD status = 0;
        GetExitCodeProcess(process_, &status);
        end.exited = true;
        end.status = static_cast<int>(status);
        return end;
    }

private:
    bool Ended() const { return WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }

    HANDLE process_ = nullptr;
};

}  // namespace farsend::testing

// A main window for tests: records every call in order.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "app/main_window_view.h"

namespace farsend::app {

class RecordingView final : public MainWindowView {
public:
    void SetTitle(const std::string& title, Colour background) override {
        Record("title:" + title + "|" + std::to_string(background.red) + "," +
               std::to_string(background.green) + "," + std::to_string(background.blue));
    }
    void SetStatusText(StatusPart part, const std::string& text) override {
        Record("status" + std::to_string(static_cast<int>(part)) + ":" + text);
    }
    void SetAutoProgramChecked(bool checked) override {
        Record(std::string("check:") + (checked ? "on" : "off"));
    }

    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

private:
    void Record(std::string call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

}  // namespace farsend::app

#include "viewer/viewer_options.h"

#include <cstdlib>

bool ParseViewerOptions(const std::vector<std::string>& arguments, ViewerOptions& options,
                        std::string& error)
{
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option != "--rate" && option != "--log" && option != "--system-dir") {
            error = "unknown argument " + option;
            return false;
        }
        if (i + 1 == arguments.size()) {
            error = option + " needs a value";
            return false;
        }
        const std::string& value = arguments[++i];
        if (option == "--rate") {
            char* end = nullptr;
            long rate = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || rate < kMinRateMs || rate > kMaxRateMs) {
                error = "--rate takes a whole number of milliseconds from 10 to 3600000";
                return false;
            }
            options.rateMs = int(rate);
        } else if (option == "--log") {
            options.logPath = value;
        } else {
            options.systemDirectory = value;
        }
    }
    return true;
}

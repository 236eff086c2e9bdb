#include "orlix/settings.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fits/automation/safe_file.h"
#include "fits/automation/variant.h"

namespace orlix {
namespace {

namespace fs = std::filesystem;

std::string BaseDir(const char* xdg_variable, const char* fallback) {
    const char* xdg = std::getenv(xdg_variable);
    if (xdg && *xdg) return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/" + fallback;
}

std::string ToText(double value) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, end);
}

}  // namespace

std::string SettingsPath() {
    return BaseDir("XDG_CONFIG_HOME", ".config") + "/orlix/experiment.ini";
}

std::string DataFolder() {
    return BaseDir("XDG_DATA_HOME", ".local/share") + "/orlix";
}

ExperimentSettings LoadSettings() {
    ExperimentSettings settings;
    std::ifstream in(SettingsPath());
    std::string line;
    while (std::getline(in, line)) {
        auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = line.substr(0, equals);
        auto number = fits::ParseNumber(line.substr(equals + 1));
        if (!number) continue;
        auto whole = fits::RoundToInt32(*number);
        if (key == "exposure" && *number >= 0) settings.exposure_seconds = *number;
        if (key == "frames" && whole && *whole >= 1) settings.frames = *whole;
        if (key == "type" && whole) settings.type_code = *whole;
        if (key == "columns" && whole && *whole >= 1) settings.columns = *whole;
        if (key == "rows" && whole && *whole >= 1) settings.rows = *whole;
        if (key == "floating") settings.floating = *number != 0;
    }
    return settings;
}

fits::Status SaveSettings(const ExperimentSettings& settings) {
    const std::string path = SettingsPath();
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ostringstream out;
    out << "# Current experiment settings of the acquisition application\n"
        << "exposure=" << ToText(settings.exposure_seconds) << "\n"
        << "frames=" << settings.frames << "\n"
        << "type=" << settings.type_code << "\n"
        << "columns=" << settings.columns << "\n"
        << "rows=" << settings.rows << "\n"
        << "floating=" << (settings.floating ? 1 : 0) << "\n";
    // The settings are replaced whole or not at all: a full disk keeps the earlier ones.
    const std::string text = out.str();
    fits::SafeFile file(path);
    if (!file.Write(text.data(), text.size()) || !file.Commit())
        return fits::Status::Error(file.error());
    return fits::Status::Ok();
}

}  // namespace orlix

// The application's own state on disk: the current experiment settings, kept in a settings
// file under the user's config directory, and the data folder where acquisitions land.
#pragma once

#include <cstdint>
#include <string>

#include "fits/automation/data_types.h"
#include "fits/automation/result.h"

namespace orlix {

struct ExperimentSettings {
    double exposure_seconds = 1.0;
    std::int32_t frames = 1;
    std::int32_t type_code = fits::type_code::kUInt16;
    std::int32_t columns = 512;
    std::int32_t rows = 512;
    bool floating = false;  // for type code 0: 32-bit floats (true) or 32-bit integers
};

// $XDG_CONFIG_HOME/orlix/experiment.ini, or ~/.config/orlix/experiment.ini.
std::string SettingsPath();
// $XDG_DATA_HOME/orlix, or ~/.local/share/orlix; not created here.
std::string DataFolder();

// The settings in the file; defaults for anything missing or unreadable.
ExperimentSettings LoadSettings();
// Writes the settings file (creating its folder); the API through which tests set them.
fits::Status SaveSettings(const ExperimentSettings& settings);

}  // namespace orlix

// Shared by the tests that need a private XDG config/data folder, the sample files and SPE 3.0
// files written to order.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

inline std::string SampleDir() {
    return SAMPLES_DIR;
}
inline std::string Sample(const std::string& name) {
    return SampleDir() + "/" + name;
}

// A fresh temporary folder, removed at the end of the test; also made the user's config and
// data directory so that settings and acquisitions stay inside it.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "fitsXXXXXX").string();
        path_ = mkdtemp(pattern.data());
        setenv("XDG_CONFIG_HOME", (path_ + "/config").c_str(), 1);
        setenv("XDG_DATA_HOME", (path_ + "/data").c_str(), 1);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Runs `work` in a child process, as an unprivileged user (nobody) when the test runs as root
// (root may write any file or folder); true when it returned true.
inline bool InChildAsUser(const std::function<bool()>& work) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        _exit(work() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// ---- SPE 3.0 files written here ----------------------------------------------------------

struct Spe3 {
    std::vector<std::pair<int, int>> regions;  // width, height
    int frames = 1;
    std::string footer_inside;  // elements after DataFormat
    // Each frame f's 32 metadata bytes: the frame number at 0, stamp + f at 8 (when >= 0).
    std::int64_t stamp = -1;
    // With a stamp: stamp + f + `lasted` at 16, a second stamp each frame (when >= 0).
    std::int64_t lasted = -1;
};

// Writes a 3.0 file of unsigned 16-bit regions whose sample k of frame f is f * 1000 + k.
inline std::string WriteSpe3(const std::string& path, const Spe3& layout) {
    int samples = 0, rows = 0;
    std::string blocks;
    for (auto [w, h] : layout.regions) {
        samples += w * h;
        rows += h;
        blocks += "<DataBlock type=\"Region\" width=\"" + std::to_string(w) + "\" height=\"" +
                  std::to_string(h) + "\" size=\"" + std::to_string(2 * w * h) + "\"/>";
    }
    const int stride = 2 * samples + 32;
    std::vector<std::uint8_t> bytes(4100 + static_cast<std::size_t>(stride * layout.frames));
    auto put = [&](std::size_t off, auto value) { std::memcpy(&bytes[off], &value, sizeof value); };
    put(42, static_cast<std::uint16_t>(layout.regions[0].first));
    put(656, static_cast<std::uint16_t>(rows));
    put(108, std::int16_t{3});
    put(1446, static_cast<std::int32_t>(layout.frames));
    put(1992, 3.0f);
    put(678, static_cast<std::uint64_t>(bytes.size()));
    put(2996, std::uint32_t{0x01234567});
    for (int f = 0; f < layout.frames; ++f) {
        for (int k = 0; k < samples; ++k)
            put(4100 + static_cast<std::size_t>(f * stride + 2 * k),
                static_cast<std::uint16_t>(f * 1000 + k));
        const auto meta = 4100 + static_cast<std::size_t>(f * stride + 2 * samples);
        put(meta, static_cast<std::int64_t>(f + 1));
        if (layout.stamp >= 0) put(meta + 8, layout.stamp + f);
        if (layout.stamp >= 0 && layout.lasted >= 0)
            put(meta + 16, layout.stamp + f + layout.lasted);
    }
    std::string xml =
        "<?xml version=\"1.0\"?><SpeFormat version=\"3.0\" xmlns=\"http://example.org/spe\">"
        "<DataFormat><DataBlock type=\"Frame\" count=\"" +
        std::to_string(layout.frames) + "\" pixelFormat=\"MonochromeUnsigned16\" size=\"" +
        std::to_string(2 * samples) + "\" stride=\"" + std::to_string(stride) + "\">" + blocks +
        "</DataBlock></DataFormat>" + layout.footer_inside + "</SpeFormat>";
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out << xml;
    return path;
}

}  // namespace testing_support

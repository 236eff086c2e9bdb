// Shared by the tests that need a private XDG config/data folder and the sample files.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

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

}  // namespace testing_support

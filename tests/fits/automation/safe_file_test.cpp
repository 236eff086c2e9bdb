#include "fits/automation/safe_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

#include "../../orlix/test_support.h"
#include "fits/convert/commands.h"

namespace fits {
namespace {

using testing_support::InChildAsUser;
using testing_support::TempDir;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::ptrdiff_t Entries(const std::string& dir) {
    return std::distance(std::filesystem::directory_iterator(dir), {});
}

TEST(TemporaryName, StaysWithinTheNameLimit) {
    const struct {
        std::string name;
        std::size_t limit;
    } cases[] = {
        {"run1.fit", 255},
        {std::string(247, 'a'), 255},
        {std::string(255, 'b'), 255},
        {std::string(80, 'c') + std::string(60, '\xC3') + "\xBC", 64},
    };
    for (const auto& c : cases) {
        std::string name = TemporaryName(c.name, c.limit);
        EXPECT_LE(name.size(), c.limit) << c.name;
        EXPECT_TRUE(name.ends_with(".XXXXXX"));
        EXPECT_EQ(name[0], '.');
        EXPECT_NE(static_cast<unsigned char>(name[name.size() - 8]) & 0xC0, 0x80);
    }
    EXPECT_TRUE(TemporaryName("run1.fit", 255).starts_with(".run1.fit.tmp-"));
    EXPECT_TRUE(
        TemporaryName("run1.fit", 255).ends_with("-" + std::to_string(getpid()) + ".XXXXXX"));
}

// A replaced file keeps its permission bits; a file the user may not write is not replaced,
// even where the folder would allow the rename.
TEST(SafeFile, ReplacingKeepsPermissionsAndRespectsThem) {
    TempDir dir;
    chmod(dir.path().c_str(), 0777);  // a shared folder: anyone may rename in it
    const struct {
        const char* name;
        mode_t mode;
        bool as_user;  // written by an unprivileged user (another user's file when root)
        bool replaced;
    } cases[] = {
        {"private.fit", 0600, false, true},
        {"group.fit", 0640, false, true},
        {"open.fit", 0664, false, true},
        {"readonly.fit", 0444, true, false},
        {"theirs.fit", 0644, true, geteuid() != 0},  // without root the file is the user's own
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (auto scheme :
             {SafeFile::Temporary::kUnnamedWhereSupported, SafeFile::Temporary::kNamed}) {
            const std::string path = dir / c.name;
            std::ofstream(path) << "old";
            chmod(path.c_str(), c.mode);
            // False only for the refusal; any other failure shows as a wrong content below.
            auto write = [&] {
                SafeFile file(path, scheme);
                if (file.Write("new", 3) && file.Commit()) return true;
                return file.error().find("you may not write this file") == std::string::npos;
            };
            EXPECT_EQ(c.as_user ? InChildAsUser(write) : write(), c.replaced);
            EXPECT_EQ(ReadAll(path), c.replaced ? "new" : "old");
            struct stat st {};
            ASSERT_EQ(stat(path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, c.mode);
            chmod(path.c_str(), 0644);
            std::filesystem::remove(path);
        }
    }
    EXPECT_EQ(Entries(dir.path()), 0);
}

// Both schemes write complete files under the longest legal names, replace the target only
// on Commit, and leave nothing behind when dropped uncommitted.
TEST(SafeFile, BothSchemesReplaceOnlyWhenComplete) {
    TempDir dir;
    for (auto scheme : {SafeFile::Temporary::kUnnamedWhereSupported, SafeFile::Temporary::kNamed}) {
        for (const std::string& name : {std::string("a.fit"), std::string(255, 'n')}) {
            const std::string path = dir / name;
            std::ofstream(path) << "old";
            {
                SafeFile dropped(path, scheme);
                ASSERT_TRUE(dropped.Write("new", 3)) << dropped.error();
            }
            EXPECT_EQ(ReadAll(path), "old");
            SafeFile file(path, scheme);
            ASSERT_TRUE(file.Write("new", 3) && file.Commit()) << file.error();
            EXPECT_EQ(ReadAll(path), "new");
            EXPECT_EQ(Entries(dir.path()), 1);
            std::filesystem::remove(path);
        }
    }
}

TEST(SafeFile, FailuresNameTheTargetAndTheSystemsReason) {
    TempDir dir;
    const struct {
        std::string target;
        std::string reason;
    } cases[] = {
        {dir / "none/x.fit", "x.fit: cannot create: No such file or directory"},
        {dir / std::string(256, 'x'), "File name too long"},
        {dir / "pipe.fit", "pipe.fit: not a regular file; not replaced"},
        {dir.path(), "not a regular file"},
    };
    ASSERT_EQ(mkfifo((dir / "pipe.fit").c_str(), 0600), 0);
    for (const auto& c : cases) {
        SafeFile file(c.target);
        file.Write("x", 1);
        EXPECT_FALSE(file.Commit());
        EXPECT_NE(file.error().find(c.reason), std::string::npos) << file.error();
    }
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "pipe.fit"));
}

// Save Header never follows a link planted under a predictable temporary name.
TEST(SaveHeader, IgnoresPlantedLinksAndKeepsLongNames) {
    TempDir dir;
    const std::string victim = dir / "victim.txt";
    std::ofstream(victim) << "precious";
    const std::string path = dir / "h.txt";
    std::filesystem::create_symlink(victim, path + ".saving");
    ASSERT_TRUE(SaveHeader("A       = 1\r\n", path));
    EXPECT_EQ(ReadAll(victim), "precious");
    EXPECT_EQ(ReadAll(path), "A       = 1\r\n");
    const std::string long_name = dir / (std::string(250, 'h') + ".fits");
    EXPECT_TRUE(
        SaveHeader("SIMPLE  =                    T\r\nBITPIX  =                    8\r\n"
                   "NAXIS   =                    0\r\n",
                   long_name));
    EXPECT_EQ(std::filesystem::file_size(long_name), 2880u);
}

// A process killed while writing leaves no temporary file: the named scheme removes it on
// SIGINT, SIGTERM and SIGHUP, the unnamed one never has a name even for SIGKILL.
TEST(SafeFile, SignalsLeaveNoTemporaryFile) {
    const struct {
        SafeFile::Temporary scheme;
        int signal;
    } cases[] = {
        {SafeFile::Temporary::kNamed, SIGINT},
        {SafeFile::Temporary::kNamed, SIGTERM},
        {SafeFile::Temporary::kNamed, SIGHUP},
        {SafeFile::Temporary::kUnnamedWhereSupported, SIGKILL},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = dir / "big.fit";
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            SafeFile file(path, c.scheme);
            file.Write("partial", 7);
            raise(c.signal);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << c.signal;
        EXPECT_EQ(Entries(dir.path()), 0) << "signal " << c.signal;
    }
}

}  // namespace
}  // namespace fits

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/ImagingTestHelpers.h"
#include "imaging/writers/SafeWrite.h"

namespace {

namespace fs = std::filesystem;
using testhelp::Bytes;

enum class TFault { None, FullDisk, ReadOnlyFolder, ChangedUnderneath, CheckFails };

struct TCase {
    const char* name;
    TFault fault;
    const char* message;  // part of the error; null when the write succeeds
};

const TCase kCases[] = {
    {"plain", TFault::None, nullptr},
    {"full_disk", TFault::FullDisk, "disk is full"},
    {"read_only_folder", TFault::ReadOnlyFolder, "read-only"},
    {"changed_underneath", TFault::ChangedUnderneath, "changed by another program"},
    {"check_fails", TFault::CheckFails, "does not read back"},
};

class SafeWriteTest : public ::testing::TestWithParam<TCase> {
  protected:
    void TearDown() override {
        if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
        chmod(dir_.c_str(), 0755);
        fs::remove_all(dir_);
    }
    // A folder of its own; a small file system of its own for the faults that need one (root
    // only: others skip those cases).
    bool MakeFolder(bool ownFileSystem, const char* size) {
        dir_ = fs::temp_directory_path() /
               ("velkaro_safewrite_" + std::to_string(getpid()) + "_" + GetParam().name);
        fs::create_directories(dir_);
        if (!ownFileSystem) return true;
        const std::string options = std::string("size=") + size;
        mounted_ = mount("tmpfs", dir_.c_str(), "tmpfs", 0, options.c_str()) == 0;
        return mounted_;
    }
    fs::path dir_;
    bool mounted_ = false;
};

TEST_P(SafeWriteTest, OriginalIntactOnEveryFault) {
    const TCase& c = GetParam();
    // Root writes into folders of any mode: a read-only folder is then a read-only mount.
    const bool root = geteuid() == 0;
    const bool ownFileSystem =
        c.fault == TFault::FullDisk || (c.fault == TFault::ReadOnlyFolder && root);
    if (!MakeFolder(ownFileSystem, "64k"))
        GTEST_SKIP() << "mounting a file system is not permitted";
    const fs::path target = dir_ / "picture.png";
    const Bytes original(1000, 'o');
    testhelp::WriteFileBytes(target, original);
    chmod(target.c_str(), 0640);
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, target.c_str(), old, 0);
    const TFileStamp shown = FileStamp(target);
    ASSERT_TRUE(shown.exists);

    Bytes data(c.fault == TFault::FullDisk ? 200000 : 3000, 'n');
    TSafeWriteOptions options;
    options.expected = &shown;
    options.keepTime = true;
    int checks = 0;
    options.check = [&](const std::string& temp) {
        ++checks;
        EXPECT_EQ(testhelp::ReadFileBytes(temp), data);
        EXPECT_EQ(fs::path(temp).extension(), ".png");
        if (c.fault == TFault::CheckFails) throw EInvalidGraphic("broken");
    };
    Bytes expected = original;
    if (c.fault == TFault::ReadOnlyFolder && root) {
        ASSERT_EQ(mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    }
    if (c.fault == TFault::ReadOnlyFolder && !root) chmod(dir_.c_str(), 0555);
    if (c.fault == TFault::ChangedUnderneath) {
        expected = Bytes(1001, 'x');
        testhelp::WriteFileBytes(target, expected);
    }

    if (c.message == nullptr) {
        SafeWriteFile(target, data, options);
        expected = data;
        EXPECT_EQ(checks, 1);
        struct stat st;
        ASSERT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    } else {
        try {
            SafeWriteFile(target, data, options);
            ADD_FAILURE() << "the write succeeded";
        } catch (const ESafeWrite& e) {
            const std::string message = e.what();
            EXPECT_TRUE(message.find(c.message) != std::string::npos ||
                        (!root && message.find("permission") != std::string::npos))
                << message;
        }
    }
    EXPECT_EQ(testhelp::ReadFileBytes(target), expected);
    // Nothing but the target is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, SafeWriteTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// Whole extraction runs on Windows (under Wine), against the real file
// services: the test program copies itself, appends an archive, and starts
// the copy with --extract-self, which runs the extraction and exits with
// its result.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "run/extract_run.h"
#include "windows_test_support.h"

namespace {

// Runs a copy of this program carrying `archive`; returns its exit code.
DWORD run_carrier(const std::vector<uint8_t>& archive) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::vector<uint8_t> carrier = carrier_of(read_file(self), archive);
    const std::string path = temp_dir() + "brisk-carrier.exe";
    write_file(path, carrier);

    const DWORD code = run_process("\"" + path + "\" --extract-self");
    DeleteFileA(path.c_str());
    return code;
}

const std::vector<ArchiveEntry>& entries() {
    static const std::vector<ArchiveEntry> list = {
        {"w-install.dat", pattern(40000, 1, false)},
        {"w-readme.txt", pattern(30000, 2, true)},
        {"w-empty.dat", {}},
        {"w-last.txt", pattern(9000, 3, true)},
    };
    return list;
}

void clear_outputs() {
    for (const ArchiveEntry& e : entries()) {
        SetFileAttributesA((folder() + e.name).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA((folder() + e.name).c_str());
    }
}

TEST(WindowsRun, UnpacksEveryFileAndASecondRunReplacesThem) {
    clear_outputs();
    ASSERT_EQ(run_carrier(archive_of("w-missing-launch.exe", entries())), 1u);
    for (const ArchiveEntry& e : entries()) EXPECT_EQ(read_file(folder() + e.name), e.data) << e.name;
    ASSERT_EQ(run_carrier(archive_of("x", {{"w-readme.txt", {'n', 'e', 'w'}}})), 1u);
    EXPECT_EQ(read_file(folder() + "w-readme.txt"), (std::vector<uint8_t>{'n', 'e', 'w'}));
}

TEST(WindowsRun, StopsAtAnEntryItCannotWrite) {
    clear_outputs();
    ASSERT_EQ(run_carrier(archive_of("x", entries())), 1u);
    // Held open without sharing by another process (here: this one).
    HANDLE held = CreateFileA((folder() + "w-empty.dat").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DeleteFileA((folder() + "w-last.txt").c_str());
    EXPECT_EQ(run_carrier(archive_of("x", entries())), 0u);
    CloseHandle(held);
    EXPECT_EQ(read_file(folder() + "w-readme.txt"), entries()[1].data) << "earlier files complete";
    EXPECT_EQ(GetFileAttributesA((folder() + "w-last.txt").c_str()), INVALID_FILE_ATTRIBUTES)
        << "no later entry tried";

    // A read-only file of the same name. Wine run as root lets root write
    // it anyway, so the case counts only where the attribute holds.
    const std::string read_only = folder() + "w-readme.txt";
    SetFileAttributesA(read_only.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE probe = CreateFileA(read_only.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        EXPECT_EQ(run_carrier(archive_of("x", entries())), 0u);
    } else {
        CloseHandle(probe);
        std::printf("note: read-only attribute not enforced here (Wine as root); case skipped\n");
    }
    SetFileAttributesA(read_only.c_str(), FILE_ATTRIBUTE_NORMAL);

    // A sub-folder that does not exist, a name reaching outside, and names
    // that open a device here (writing nothing, with success, unless refused).
    EXPECT_EQ(run_carrier(archive_of("x", {{"no-such-dir\\f.txt", {1}}})), 0u);
    EXPECT_EQ(run_carrier(archive_of("x", {{"NUL", {1}}})), 0u);
    EXPECT_EQ(run_carrier(archive_of("x", {{"nul .txt", {1}}})), 0u);
    EXPECT_EQ(run_carrier(archive_of("x", {{"..\\w-escape.txt", {1}}})), 0u);
    EXPECT_EQ(GetFileAttributesA((temp_dir() + "w-escape.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(WindowsRun, DamagedChunkFailsAfterEarlierFiles) {
    clear_outputs();
    std::vector<uint8_t> overflowing;
    append_overflowing_entry(overflowing, "w-last.txt");
    EXPECT_EQ(run_carrier(archive_of("x", {entries()[1]}, EncoderOptions(), overflowing)), 0u);
    EXPECT_EQ(read_file(folder() + "w-readme.txt"), entries()[1].data);
    EXPECT_TRUE(read_file(folder() + "w-last.txt").empty());
}

}  // namespace

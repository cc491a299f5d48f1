// The archive reader on damaged and hostile files: every undefined case
// fails, nothing is written past a buffer, nothing loops.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/carrier_file_win32.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

class Reader : public ::testing::Test {
protected:
    CarrierFile open(const std::vector<uint8_t>& bytes) {
        write_file(dir / "f.bin", bytes);
        HANDLE h = CreateFileA((dir / "f.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        files.emplace_back(h);
        return files.back().file();
    }
    void TearDown() override {
        for (const Win32Carrier& file : files) CloseHandle(file.handle);
    }
    ScratchDir dir;
    std::deque<Win32Carrier> files;
};

TEST_F(Reader, LocateChecksTheTrailer) {
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        bool ok;
    };
    const std::vector<uint8_t> body(10, 'a');
    const Case cases[] = {
        {"points at the first archive byte", with_trailer(body, 3), true},
        {"points at the last byte before the trailer", with_trailer(body, 9), true},
        {"points at the trailer itself", with_trailer(body, 10), false},
        {"points past the end", with_trailer(body, 1000), false},
        {"2^31", with_trailer(body, 0x80000000u), false},
        {"all ones", with_trailer(body, 0xFFFFFFFFu), false},
        {"file of three bytes", {1, 2, 3}, false},
        {"empty file", {}, false},
    };
    for (const Case& c : cases) {
        CarrierFile h = open(c.file);
        EXPECT_EQ(locate_archive(h), c.ok) << c.what;
        CloseHandle(files.back().handle);
        files.pop_back();
    }
    CarrierFile h = open(with_trailer({'x', 'y', 'L', 0}, 2));
    ASSERT_TRUE(locate_archive(h));
    char name[kNameCapacity];
    ASSERT_TRUE(read_name(h, name));
    EXPECT_STREQ(name, "L");
}

TEST_F(Reader, NamesStopAtTheirLimits) {
    char name[kNameCapacity + 8];
    auto& buffer = *reinterpret_cast<char(*)[kNameCapacity]>(name);
    std::memset(name, '#', sizeof name);

    std::vector<uint8_t> longest(259, 'n');
    longest.push_back(0);
    CarrierFile h = open(longest);
    EXPECT_TRUE(read_name(h, buffer)) << "259 characters fit";
    EXPECT_EQ(std::string(name).size(), 259u);

    std::vector<uint8_t> too_long(260, 'n');
    too_long.push_back(0);
    h = open(too_long);
    EXPECT_FALSE(read_name(h, buffer)) << "260 characters do not";
    for (size_t i = kNameCapacity; i < sizeof name; ++i) EXPECT_EQ(name[i], '#');

    h = open({'a', 'b'});
    EXPECT_FALSE(read_name(h, buffer)) << "end of file inside a name";
    h = open({});
    EXPECT_FALSE(read_name(h, buffer)) << "end of file before a name";
    h = open({0});
    EXPECT_TRUE(read_name(h, buffer));
    EXPECT_EQ(name[0], '\0') << "the end marker";
}

TEST_F(Reader, IntegersAndChunkRecords) {
    uint32_t value = 0;
    CarrierFile h = open({0x78, 0x56, 0x34, 0x12});
    ASSERT_TRUE(read_u32(h, &value));
    EXPECT_EQ(value, 0x12345678u);
    h = open({1, 2, 3});
    EXPECT_FALSE(read_u32(h, &value)) << "end of file inside an integer";

    uint8_t buffer[kChunkInputCapacity];
    uint32_t delivered = 99;
    std::vector<uint8_t> record;
    append_u32(record, 2049);
    record.resize(record.size() + 2049, 7);
    h = open(record);
    EXPECT_FALSE(read_chunk_record(h, buffer, &delivered)) << "body above 2048 refused";
    EXPECT_EQ(SetFilePointer(files.back().handle, 0, nullptr, FILE_CURRENT), 4u) << "before reading the body";

    record.clear();
    append_u32(record, 2048);
    record.resize(record.size() + 100, 9);
    h = open(record);
    EXPECT_TRUE(read_chunk_record(h, buffer, &delivered)) << "a short body is not an error";
    EXPECT_EQ(delivered, 100u);

    record.clear();
    append_u32(record, 0);
    h = open(record);
    EXPECT_TRUE(read_chunk_record(h, buffer, &delivered));
    EXPECT_EQ(delivered, 0u);
    h = open({5, 0});
    EXPECT_FALSE(read_chunk_record(h, buffer, &delivered)) << "end of file inside the length";
}

}  // namespace

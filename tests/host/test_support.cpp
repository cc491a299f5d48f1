#include "test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "archive/carrier_integrity.h"
#include "archive/format_rules.h"
#include "platform/platform.h"
#include "run/extract_run.h"

ScratchDir::ScratchDir() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/brisk-test-XXXXXX";
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

bool file_exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::vector<uint8_t> fake_stub(size_t size) {
    std::vector<uint8_t> stub(size, 0xCC);
    stub[0] = 'M', stub[1] = 'Z';
    return stub;
}

std::vector<uint8_t> carrier_around(const std::vector<uint8_t>& archive, size_t stub_size) {
    std::vector<uint8_t> out = fake_stub(stub_size);
    out.insert(out.end(), archive.begin(), archive.end());
    append_u32(out, uint32_t(stub_size));
    return out;
}

namespace {

void put_u16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    out[at] = uint8_t(value), out[at + 1] = uint8_t(value >> 8);
}
void put_u32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    put_u16(out, at, value & 0xFFFF), put_u16(out, at + 2, value >> 16);
}

// CRC-32 as defined, a bit at a time, for the record the tests expect: it
// holds courier-pack's and the launcher's table-driven one to the definition.
constexpr uint32_t plain_crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}
constexpr uint8_t kCheckDigits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
static_assert(plain_crc32(kCheckDigits, 9) == 0xCBF43926u, "the standard check value");

std::string quoted(const std::string& arg) {
    std::string out = "'";
    for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

std::vector<uint8_t> minimal_pe_stub(size_t size) {
    constexpr uint32_t kHeaders = 0x200, kPe = 0x40, kOptional = kPe + 24, kSection = kOptional + 224;
    if (size <= kHeaders) return {};
    std::vector<uint8_t> image(size, 0);
    image[0] = 'M', image[1] = 'Z';
    put_u32(image, 0x3C, kPe);
    image[kPe] = 'P', image[kPe + 1] = 'E';
    put_u16(image, kPe + 4, 0x14C);     // i386
    put_u16(image, kPe + 6, 1);         // one section
    put_u16(image, kPe + 20, 224);      // optional header size
    put_u16(image, kPe + 22, 0x0102);   // executable, 32-bit
    put_u16(image, kOptional, 0x10B);   // PE32
    put_u32(image, kOptional + 16, 0x1000);  // entry point
    put_u32(image, kOptional + 28, 0x400000);  // image base
    put_u32(image, kOptional + 32, 0x1000);  // section alignment
    put_u32(image, kOptional + 36, 0x200);   // file alignment
    put_u16(image, kOptional + 40, 4), put_u16(image, kOptional + 48, 4);  // OS, subsystem 4.0
    const uint32_t raw = uint32_t(size) - kHeaders;
    put_u32(image, kOptional + 56, 0x1000 + ((raw + 0xFFF) & ~0xFFFu));  // image size
    put_u32(image, kOptional + 60, kHeaders);
    put_u16(image, kOptional + 68, 2);  // GUI
    put_u32(image, kOptional + 92, 16);  // data directories
    std::memcpy(&image[kSection], ".text", 5);
    put_u32(image, kSection + 8, raw);
    put_u32(image, kSection + 12, 0x1000);
    put_u32(image, kSection + 16, raw);
    put_u32(image, kSection + 20, kHeaders);
    put_u32(image, kSection + 36, 0x60000020);  // code, execute, read
    // Code, then the zeros a linker pads the last section with.
    std::fill(image.begin() + kHeaders, image.end() - std::min<size_t>(raw, 64), 0xCC);
    // The launcher's folder name, by which pack knows a launcher.
    if (raw >= 64 + sizeof kFolderName) std::memcpy(&image[kHeaders], kFolderName, sizeof kFolderName - 1);
    return image;
}

std::vector<uint8_t> packed_carrier(const std::vector<uint8_t>& stub, const std::string& launch_name,
                                    const std::vector<ArchiveEntry>& entries,
                                    const EncoderOptions& options) {
    std::vector<uint8_t> archive;
    append_name(archive, launch_name);
    for (const ArchiveEntry& entry : entries)
        append_entry(archive, entry.name, entry.data.data(), entry.data.size(), options);
    archive.push_back(0);
    while ((stub.size() + kRecordSize + archive.size() + 4) % 8) archive.push_back(0);
    IntegrityRecord record;
    record.archive_offset = uint32_t(stub.size() + kRecordSize);
    record.archive_length = uint32_t(archive.size());
    record.carrier_length = uint32_t(record.archive_offset + archive.size() + 4);
    record.archive_crc = plain_crc32(archive.data(), archive.size());
    uint8_t bytes[kRecordSize];
    encode_record(record, bytes);
    std::vector<uint8_t> out(stub);
    out.insert(out.end(), bytes, bytes + kRecordSize);
    out.insert(out.end(), archive.begin(), archive.end());
    append_u32(out, record.archive_offset);
    return out;
}

ToolResult run_tool(const std::string& program, const std::vector<std::string>& args,
                    const ScratchDir& dir) {
    std::string command = quoted(program);
    for (const std::string& arg : args) command += " " + quoted(arg);
    command += " >" + quoted(dir / "stdout") + " 2>" + quoted(dir / "stderr");
    const int status = std::system(command.c_str());
    const auto out = read_file(dir / "stdout"), err = read_file(dir / "stderr");
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out.begin(), out.end()),
            std::string(err.begin(), err.end())};
}

RunSetup::RunSetup() {
    std::filesystem::create_directory(dir / "tmp");
    host::set_temp_path(dir / "tmp");
    host::set_module_path(carrier());
    host::clear_calls();
    g_popup_window = nullptr;
    g_progress_bar = nullptr;
}

RunSetup::~RunSetup() {
    host::set_temp_path("/tmp/");
    host::set_module_path("");
}

std::string RunSetup::windows_folder() const {
    std::string path = folder() + "/";
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

int RunSetup::run(const std::vector<uint8_t>& carrier_bytes) {
    write_file(carrier(), carrier_bytes);
    host::clear_calls();
    return extract_archive();
}

std::vector<std::string> RunSetup::calls_starting(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& call : host::calls())
        if (call.compare(0, prefix.size(), prefix) == 0) out.push_back(call);
    return out;
}

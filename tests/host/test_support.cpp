#include "test_support.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

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

std::vector<uint8_t> random_bytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = uint8_t(x >> 24);
    }
    return out;
}

std::vector<uint8_t> text_like(size_t size, uint32_t seed) {
    static const char* const words[] = {"the ", "installer ", "copies ", "files ", "into ",
                                        "a ", "folder ", "and ", "runs ", "setup\r\n",
                                        "Windows ", "version ", "1.0 ", "of ", "data "};
    std::vector<uint8_t> out;
    uint32_t x = seed * 2654435761u + 7;
    while (out.size() < size) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        const char* w = words[x % 15];
        while (*w && out.size() < size) out.push_back(uint8_t(*w++));
    }
    return out;
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

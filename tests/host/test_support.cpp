#include "test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/platform.h"
#include "run/extract_run.h"
#include "ui/progress_window.h"

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

namespace {

std::string quoted(const std::string& arg) {
    std::string out = "'";
    for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

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

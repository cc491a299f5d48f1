#include "windows_test_support.h"

#include <gtest/gtest.h>

#include "run/extract_run.h"

namespace {

std::wstring widened(const std::string& text) {
    std::wstring out(text.size() + 1, L'\0');
    out.resize(size_t(MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], int(out.size()))));
    if (!out.empty()) out.pop_back();  // the NUL
    return out;
}

// output: a file for the process's stdout and stderr, or null to share ours.
bool starts_process(std::wstring line, const char* directory, const std::wstring& environment,
                    PROCESS_INFORMATION* info, HANDLE output = nullptr) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = startup.hStdError = output;
    }
    const std::wstring dir = directory ? widened(directory) : L"";
    return CreateProcessW(nullptr, &line[0], nullptr, nullptr, output != nullptr,
                          CREATE_UNICODE_ENVIRONMENT,
                          environment.empty() ? nullptr : const_cast<wchar_t*>(environment.c_str()),
                          directory ? dir.c_str() : nullptr, &startup, info);
}

unsigned long wait_for_exit(const PROCESS_INFORMATION& info) {
    DWORD code = 998;
    if (WaitForSingleObject(info.hProcess, 120000) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

}  // namespace

std::string temp_dir() {
    char buffer[MAX_PATH];
    GetTempPathA(MAX_PATH, buffer);
    return buffer;
}

std::string exe_dir() {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self);
    return path.substr(0, path.find_last_of('\\') + 1);
}

std::string folder() { return temp_dir() + "BriskCourierTmp\\"; }

std::vector<uint8_t> pattern(size_t size, uint32_t seed, bool compressible) {
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        out[i] = compressible ? uint8_t("setup files "[x % 12]) : uint8_t(x >> 24);
    }
    return out;
}

unsigned long run_process(std::string command, const char* directory,
                          const std::wstring& environment) {
    PROCESS_INFORMATION info = {};
    if (!starts_process(widened(command), directory, environment, &info)) return 999;
    return wait_for_exit(info);
}

unsigned long run_process_wide(const std::wstring& command, std::string& output) {
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    wchar_t path[MAX_PATH];
    GetTempPathW(MAX_PATH, path);
    const std::wstring file = std::wstring(path) + L"brisk-process-output.txt";
    const HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    PROCESS_INFORMATION info = {};
    const bool started = starts_process(command, nullptr, L"", &info, out);
    CloseHandle(out);
    const unsigned long code = started ? wait_for_exit(info) : 999;
    const std::vector<uint8_t> bytes = read_file(temp_dir() + "brisk-process-output.txt");
    output.assign(bytes.begin(), bytes.end());
    return code;
}

std::wstring environment_with(const std::vector<std::pair<std::wstring, std::wstring>>& set) {
    std::wstring block;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry; entry += lstrlenW(entry) + 1) {
        const std::wstring text = entry;
        const std::wstring name = text.substr(0, text.find(L'=', 1));
        bool replaced = false;
        for (const auto& variable : set)
            replaced = replaced || lstrcmpiW(variable.first.c_str(), name.c_str()) == 0;
        if (!replaced) block += text + L'\0';
    }
    FreeEnvironmentStringsW(strings);
    for (const auto& variable : set) block += variable.first + L'=' + variable.second + L'\0';
    return block + L'\0';
}

std::vector<uint8_t> launcher_carrier(const std::string& launch, const std::vector<ArchiveEntry>& entries,
                                      const std::vector<uint8_t>& tail) {
    const std::vector<uint8_t> stub = read_file(exe_dir() + "..\\..\\launcher.exe");
    EXPECT_FALSE(stub.empty()) << "launcher.exe not found";
    return carrier_of(stub, archive_of(launch, entries, EncoderOptions(), tail));
}

std::string probe_record() { return temp_dir() + "brisk-probe.txt"; }
std::string launch_cwd() { return temp_dir() + "brisk-cwd\\"; }

bool probe_ran(DWORD timeout_ms) {
    return wait_for([] { return !read_file(probe_record()).empty(); }, timeout_ms);
}

Started start_carrier(const std::vector<uint8_t>& carrier, const std::string& path,
                      const std::wstring& environment) {
    write_file(path, carrier);
    CreateDirectoryA(launch_cwd().c_str(), nullptr);
    DeleteFileA(probe_record().c_str());
    Started s;
    PROCESS_INFORMATION info = {};
    if (starts_process(widened("\"" + path + "\""), launch_cwd().c_str(), environment, &info)) {
        CloseHandle(info.hThread);
        s.process = info.hProcess;
    }
    return s;
}

HWND error_box() { return FindWindowA("#32770", "Error"); }

void finish(Started& s) {
    ASSERT_NE(s.process, nullptr);
    const bool ended = wait_for(
        [&] {
            if (error_box()) s.saw_error_box = true;
            return WaitForSingleObject(s.process, 0) == WAIT_OBJECT_0;
        },
        120000);
    EXPECT_TRUE(ended) << "launcher did not end";
    GetExitCodeProcess(s.process, &s.exit_code);
    CloseHandle(s.process);
}

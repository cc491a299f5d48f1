// The launcher's whole extraction run over an arbitrary carrier, through the
// host stand-in. Asserts, for every input: the run returns 0 or 1, without
// a sanitizer report, a leak or a hang; every handle is closed; nothing but
// the extraction folder's files appears in the scratch tree and the carrier
// is unchanged; the shell is only asked to open a path inside the folder.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/platform.h"
#include "run/extract_run.h"

namespace {

// "prefix\a\..\b" stays under prefix, judged by components alone.
bool lexically_inside(const std::string& path, const std::string& folder) {
    if (path.compare(0, folder.size(), folder) != 0) return false;
    int depth = 0;
    std::string component;
    for (size_t i = folder.size(); i <= path.size(); ++i) {
        const char c = i < path.size() ? path[i] : '\\';
        if (c != '\\' && c != '/') {
            component += c;
            continue;
        }
        if (component == "..") {
            if (--depth < 0) return false;
        } else if (!component.empty() && component != ".") {
            ++depth;
        }
        component.clear();
    }
    return true;
}

void check_launches(const std::string& folder) {
    const std::string prefix = "ShellExecuteW(0,Open,";
    const std::string suffix = ",(null),(null),1)";
    for (const std::string& call : host::calls()) {
        if (call.compare(0, 13, "ShellExecuteW") != 0) continue;
        FUZZ_CHECK(call.size() >= prefix.size() + suffix.size() &&
                       call.compare(0, prefix.size(), prefix) == 0 &&
                       call.compare(call.size() - suffix.size(), suffix.size(), suffix) == 0,
                   "unexpected shell call %s", call.c_str());
        const std::string path =
            call.substr(prefix.size(), call.size() - prefix.size() - suffix.size());
        FUZZ_CHECK(lexically_inside(path, folder), "launches outside the folder: %s", path.c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RunScratch& s = scratch();
    s.clear_folder();
    s.write_carrier(data, size);

    const int result = extract_archive();

    FUZZ_CHECK(result == 0 || result == 1, "result %d", result);
    FUZZ_CHECK(host::open_handles() == 0, "%d handles left open", host::open_handles());
    s.check_tree(data, size);
    check_launches(s.windows_folder());
    host::clear_calls();  // freed within the run, for libFuzzer's leak accounting
    return 0;
}

#include "tools/packing/pack_launch_dlls.h"

#include <algorithm>
#include <unordered_map>

#include "tools/dlls/dll_exposure.h"
#include "tools/dlls/image_bytes.h"
#include "tools/carrier/names.h"
#include "tools/system/console.h"
#include "tools/system/input_file.h"

namespace {

LaunchDlls judge(const std::string& launch, const ProgramImports& imports, const std::vector<PackInput>& inputs,
                 size_t program) {
    std::unordered_map<std::string, size_t> at;
    for (size_t i = 0; i < inputs.size(); ++i) at.emplace(windows_file_key(inputs[i].name), i);
    return judge_launch_dlls(launch, imports, [&](const std::string& dll) {
        const auto found = at.find(windows_file_key(dll));
        if (found == at.end()) return Carried::kNo;
        return found->second < program ? Carried::kBefore : Carried::kAfter;
    });
}

}  // namespace

void order_launch_dlls(const std::string& launch, size_t launch_at, std::vector<PackInput>& inputs) {
    if (launch_at >= inputs.size() || !inputs[launch_at].file) return;
    const auto program = inputs.begin() + std::ptrdiff_t(launch_at);
    FileBytes bytes(*program->file);
    const ProgramImports imports = read_program_imports(bytes);
    const LaunchDlls first = judge(launch, imports, inputs, launch_at);
    std::vector<std::string> late;
    for (const DllVerdict& dll : first.dlls)
        if (dll.carried_late) late.push_back(windows_file_key(dll_file_name(dll.name)));
    // Those DLLs go just before the program, each in its order, the rest as they were.
    const auto moved = std::stable_partition(program + 1, inputs.end(), [&](const PackInput& input) {
        return std::find(late.begin(), late.end(), windows_file_key(input.name)) != late.end();
    });
    std::string names;
    for (auto input = program + 1; input != moved; ++input)
        names += (names.empty() ? "" : input + 1 == moved ? " and " : ", ") + printable(input->name);
    const char* them = moved - program == 2 ? "it" : "them";
    std::rotate(program, program + 1, moved);
    if (!names.empty() && verbosity() != Verbosity::kQuiet)
        print(names + " packed before " + printable(launch) + ", which loads " + them + ": the launcher writes " +
              them + " before it can open it\n");
    // The program now stands just before the first input that did not move.
    const LaunchDlls dlls = judge(launch, imports, inputs, size_t(moved - inputs.begin()) - 1);
    if (!dlls.warning.empty()) report_warning(dlls.warning);
}

#include "tools/packing/pack_launch_dlls.h"

#include <algorithm>
#include <unordered_map>

#include "tools/dlls/image_bytes.h"
#include "tools/carrier/names.h"
#include "tools/system/console.h"
#include "tools/system/input_file.h"

namespace {

// An input file read as an image, owning its file.
class InputImage final : public ImageBytes {
public:
    explicit InputImage(const std::filesystem::path& path) : file_(path), bytes_(file_) {}
    uint64_t size() const override { return bytes_.size(); }
    size_t read(uint64_t offset, uint8_t* out, size_t n) override { return bytes_.read(offset, out, n); }

private:
    InputFile file_;
    FileBytes bytes_;
};

LaunchDlls judge(const std::string& launch, const ProgramImports& imports, const DllOptions& options,
                 const std::vector<PackInput>& inputs, size_t program, bool follow) {
    std::unordered_map<std::string, size_t> at;
    for (size_t i = 0; i < inputs.size(); ++i) at.emplace(windows_file_key(inputs[i].name), i);
    DllContext context;
    context.options = options;
    context.carried = [&](const std::string& dll) {
        const auto found = at.find(windows_file_key(dll));
        if (found == at.end()) return Carried::kNo;
        return found->second < program ? Carried::kBefore : Carried::kAfter;
    };
    if (follow) context.open_carried = [&](const std::string& dll) -> std::unique_ptr<ImageBytes> {
        const auto found = at.find(windows_file_key(dll));
        if (found == at.end()) return nullptr;
        return std::make_unique<InputImage>(inputs[found->second].path);
    };
    return judge_launch_dlls(launch, imports, context);
}

}  // namespace

void order_launch_dlls(const std::string& launch, size_t launch_at, const DllOptions& options,
                       std::vector<PackInput>& inputs, std::vector<std::string>& problems) {
    if (launch_at >= inputs.size() || !inputs[launch_at].file) return;
    const auto program = inputs.begin() + std::ptrdiff_t(launch_at);
    FileBytes bytes(*program->file);
    const ProgramImports imports = read_program_imports(bytes);
    const LaunchDlls first = judge(launch, imports, options, inputs, launch_at, false);
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
    const LaunchDlls dlls = judge(launch, imports, options, inputs, size_t(moved - inputs.begin()) - 1, true);
    if (!dlls.warning.empty()) report_warning(dlls.warning);
    if (!dlls.cannot_start.empty()) problems.push_back(dlls.cannot_start);
}

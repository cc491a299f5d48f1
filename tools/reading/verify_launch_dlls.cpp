#include "tools/reading/verify_launch_dlls.h"

#include <unordered_map>

#include "tools/carrier/names.h"
#include "tools/reading/entry_bytes.h"
#include "tools/system/input_file.h"

namespace {

// The file offset of an entry's first chunk record: after its name, its NUL and its stored size.
uint64_t records_at(const Carrier& carrier, const CarrierEntry& entry) {
    return carrier.archive_start + entry.offset + entry.name.size() + 1 + 4;
}

}  // namespace

void check_launch_dlls(InputFile& file, const DllOptions& options, WalkResult& result) {
    Carrier& carrier = result.carrier;
    if (!result.ok || !carrier.launch_opens || carrier.launch_name.empty()) return;
    if (carrier.launch_entry == kNoEntry) {
        result.notes.push_back("the launch entry comes after the first " + std::to_string(carrier.entries.size()) +
                               " entries: the DLLs it loads are not read");
        return;
    }
    // Each file Windows would make of the entries: where it is first
    // written, and where last, whose bytes stay.
    std::unordered_map<std::string, std::pair<size_t, size_t>> first;
    for (size_t i = 0; i < carrier.entries.size(); ++i)
        first.emplace(windows_file_key(carrier.entries[i].name), std::make_pair(i, i)).first->second.second = i;
    const CarrierEntry& entry = carrier.entries[carrier.launch_entry];
    EntryBytes bytes(file, records_at(carrier, entry), entry.stored_size, entry.decoded_size);
    const ProgramImports imports = read_program_imports(bytes);
    DllContext context;
    context.options = options;
    context.carried = [&](const std::string& dll) {
        const auto found = first.find(windows_file_key(dll));
        if (found == first.end()) return Carried::kNo;
        return found->second.first < carrier.launch_first ? Carried::kBefore : Carried::kAfter;
    };
    // A carried DLL's bytes are the last entry's of its name, as the launch program's.
    context.open_carried = [&](const std::string& dll) -> std::unique_ptr<ImageBytes> {
        const auto found = first.find(windows_file_key(dll));
        if (found == first.end()) return nullptr;
        const CarrierEntry& e = carrier.entries[found->second.second];
        return std::make_unique<EntryBytes>(file, records_at(carrier, e), e.stored_size, e.decoded_size);
    };
    carrier.launch_dlls = judge_launch_dlls(carrier.launch_name, imports, context);
    const LaunchDlls& dlls = carrier.launch_dlls;
    result.notes.insert(result.notes.end(), dlls.notes.begin(), dlls.notes.end());
    if (dlls.warning.empty()) return;
    WalkWarning warning;
    warning.reason = dlls.warning;
    warning.doubt = Doubt::kDllFromSharedFolder;
    result.add_warning(warning);
}

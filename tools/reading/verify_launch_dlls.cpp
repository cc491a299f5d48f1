#include "tools/reading/verify_launch_dlls.h"

#include <unordered_map>

#include "tools/carrier/names.h"
#include "tools/dlls/dll_exposure.h"
#include "tools/reading/entry_bytes.h"
#include "tools/system/input_file.h"

void check_launch_dlls(InputFile& file, WalkResult& result) {
    Carrier& carrier = result.carrier;
    if (!result.ok || !carrier.launch_opens || carrier.launch_name.empty()) return;
    if (carrier.launch_entry == kNoEntry) {
        result.notes.push_back("the launch entry comes after the first " + std::to_string(kMostListedEntries) +
                               " entries: the DLLs it loads are not read");
        return;
    }
    // Each file Windows would make of the entries: where it is first written.
    std::unordered_map<std::string, size_t> first;
    for (size_t i = 0; i < carrier.entries.size(); ++i)
        first.emplace(windows_file_key(carrier.entries[i].name), i);
    const CarrierEntry& entry = carrier.entries[carrier.launch_entry];
    EntryBytes bytes(file, carrier.archive_start + entry.offset + entry.name.size() + 1 + 4, entry.stored_size,
                     entry.decoded_size);
    const ProgramImports imports = read_program_imports(bytes);
    carrier.launch_dlls = judge_launch_dlls(carrier.launch_name, imports, [&](const std::string& dll) {
        const auto found = first.find(windows_file_key(dll));
        if (found == first.end()) return Carried::kNo;
        return found->second < carrier.launch_first ? Carried::kBefore : Carried::kAfter;
    });
    const LaunchDlls& dlls = carrier.launch_dlls;
    result.notes.insert(result.notes.end(), dlls.notes.begin(), dlls.notes.end());
    if (dlls.warning.empty()) return;
    WalkWarning warning;
    warning.reason = dlls.warning;
    warning.doubt = Doubt::kDllFromSharedFolder;
    result.add_warning(warning);
}

// courier-pack's carrier walk (list, verify, extract) over an arbitrary
// carrier. Asserts, for every input: no sanitizer report, leak or hang;
// the carrier's handle is closed; entries read whole decode to the sizes
// reported; and the walk never passes a carrier the launcher would fail:
// when it reports success, the launcher's run over the same carrier and
// the same %TEMP% succeeds and leaves every entry with the bytes the walk
// decoded, unless the walk warned of a name too long for that %TEMP%, or a
// name is not UTF-8 (below). Entries that Windows takes for one file are
// warned of, and any execution level reported is one Windows knows.
// Reading the carrier's resources, as list and verify do, stays within the
// file's bytes whatever its headers say. verify's reading of the DLLs the
// launch program loads ends with a verdict for each DLL it names, one
// warning exactly when one comes from the shared folder first, and names
// no longer than any file's.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/platform.h"
#include "run/extract_run.h"
#include "tools/reading/carrier_walk.h"
#include "tools/reading/verify_launch_dlls.h"
#include "tools/carrier/names.h"
#include "tools/resources/resource_report.h"
#include "tools/system/text_encoding.h"

namespace {

// Keeps each entry's decoded bytes; a later entry of the same name, letter
// case ignored, replaces an earlier one's bytes and name, as in the
// launcher's folder, where each file is made anew.
class Collect : public WalkSink {
public:
    std::string begin_entry(const CarrierEntry&) override {
        current_.clear();
        return "";
    }
    std::string write(const uint8_t* data, size_t size) override {
        current_.insert(current_.end(), data, data + size);
        return "";
    }
    std::string end_entry(const CarrierEntry& entry) override {
        FUZZ_CHECK(current_.size() == entry.decoded_size, "entry reports %llu bytes, wrote %zu",
                   static_cast<unsigned long long>(entry.decoded_size), current_.size());
        File& file = files[ascii_file_key(entry.name)];
        file.spelling = entry.name;
        file.bytes = current_;
        return "";
    }
    struct File {
        std::string spelling;
        std::vector<uint8_t> bytes;
    };
    std::map<std::string, File> files;

private:
    std::vector<uint8_t> current_;
};

// Entries alike but for ASCII letter case and trailing dots and spaces are
// one file on Windows: a walk that passes must warn of each such group at
// an entry of the file it makes. Code page 1252's letters may widen the
// group, so the warning may be at an entry spelt otherwise ('\xFF', '\x9F'),
// unless there are more groups than the walk keeps.
void check_same_files(const WalkResult& walk) {
    if (walk.unlisted_warnings.count(Doubt::kSameFileOnWindows)) return;
    auto plain = [](std::string name) {
        name.erase(name.find_last_not_of(". ") + 1);
        return ascii_file_key(name);
    };
    std::map<std::string, int> names;
    for (const CarrierEntry& entry : walk.carrier.entries) ++names[plain(entry.name)];
    std::set<std::string> warned;
    for (const WalkWarning& warning : walk.warnings)
        if (warning.doubt == Doubt::kSameFileOnWindows) warned.insert(windows_file_key(warning.name));
    for (const auto& [name, count] : names)
        FUZZ_CHECK(count == 1 || warned.count(windows_file_key(name)),
                   "no warning for %d entries named '%s'", count,
                   printable(name).c_str());
}

void check_launch_dlls_verdict(const WalkResult& walk) {
    const LaunchDlls& dlls = walk.carrier.launch_dlls;
    FUZZ_CHECK(!dlls.read || walk.ok, "DLLs read from a carrier the walk failed");
    bool from_folder = false;
    for (const DllVerdict& dll : dlls.dlls) {
        FUZZ_CHECK(!dll.name.empty() && dll.name.size() <= kLongestDllName, "a DLL name of %zu bytes",
                   dll.name.size());
        from_folder = from_folder || (dll.from == DllSource::kFolder && !dll.accepted);
    }
    // One warning at most; always one for a DLL from the folder (the DLLs
    // loaded for an elevated program draw it with none).
    size_t warnings = 0;
    for (const WalkWarning& warning : walk.warnings) warnings += warning.doubt == Doubt::kDllFromSharedFolder;
    FUZZ_CHECK(warnings <= 1u && (!from_folder || warnings == 1u), "%zu DLL warnings for %s", warnings,
               from_folder ? "a DLL from the folder" : "none from it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RunScratch& s = scratch();
    s.write_carrier(data, size);

    Collect sink;
    WalkResult walk;
    {
        ProgramFile carrier(path_from_utf8(s.carrier()));  // as verify: one open for the walk and the DLLs
        walk = walk_carrier(s.carrier(), carrier, sink, int(s.windows_temp().size()));
        check_launch_dlls(carrier.file(), DllOptions(), walk);
    }
    check_launch_dlls_verdict(walk);
    FUZZ_CHECK(host::open_handles() == 0, "%d handles left open", host::open_handles());
    FUZZ_CHECK(walk.ok || !walk.failure.reason.empty(), "failed without a reason");
    const ResourceReport& resources = walk.carrier.resources;
    FUZZ_CHECK(resources.any || (resources.icon.empty() && !resources.has_version),
               "resources reported without a resource directory");
    const std::string& level = resources.execution_level;
    FUZZ_CHECK(level.empty() || (resources.manifest_problem.empty() &&
                                 (level == "asInvoker" || level == "highestAvailable" ||
                                  level == "requireAdministrator")),
               "execution level '%s' from a manifest with a problem, or unknown", level.c_str());
    if (!walk.ok) return 0;
    check_same_files(walk);
    // Names too long for this %TEMP% are warnings: the run fails here.
    for (const WalkWarning& warning : walk.warnings)
        if (warning.doubt == Doubt::kNeedsShortTemp) return 0;
    // The stand-in's ANSI code page is UTF-8, in which a byte that is no
    // UTF-8 has no character (in Windows' single-byte code pages every byte
    // has one), so such a name tells nothing of the launcher on Windows.
    std::u16string ignored;
    if (!utf8_to_utf16(walk.carrier.launch_name, ignored)) return 0;
    for (const CarrierEntry& entry : walk.carrier.entries)
        if (!utf8_to_utf16(entry.name, ignored)) return 0;

    s.clear_folder();
    const int launched = extract_archive();
    FUZZ_CHECK(launched == 1, "walk passed a carrier the launcher fails on");
    for (const auto& entry : sink.files) {
        const Collect::File& file = entry.second;
        std::vector<uint8_t> bytes;
        FUZZ_CHECK(s.read_extracted(file.spelling, &bytes), "launcher wrote no '%s'",
                   file.spelling.c_str());
        FUZZ_CHECK(bytes == file.bytes, "'%s': launcher wrote %zu bytes, walk decoded %zu",
                   file.spelling.c_str(), bytes.size(), file.bytes.size());
    }
    FUZZ_CHECK(host::open_handles() == 0, "%d handles left open", host::open_handles());
    s.check_tree(data, size);
    host::clear_calls();  // freed within the run, for libFuzzer's leak accounting
    return 0;
}

// The launcher's reader of its own layout and integrity record
// (archive/carrier_integrity.cpp) over arbitrary carriers, held against the
// launcher's run and courier-pack verify. Asserts, for every input: no
// sanitizer report, leak or hang; the layout is what the headers say (each
// section's raw data below 4 GiB, the image ending with the furthest, a
// certificate table only from a certificate entry the headers hold, after
// the image, ending the file); a carrier the check finds cut or damaged is
// refused by the launcher before it writes or opens anything, and failed by
// verify; verify's walk reports the layout and record state the launcher
// read; and verify passes only a carrier the launcher's run gets through.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/carrier_file_win32.h"
#include "archive/carrier_integrity.h"
#include "fuzz/fuzz_support.h"
#include "platform/platform.h"
#include "run/extract_run.h"
#include "tools/reading/carrier_walk.h"
#include "tools/reading/commands.h"
#include "tools/system/text_encoding.h"

namespace {

// The layout as its rules read, in 64-bit arithmetic: false when the
// launcher may not take the headers (then it takes the plain layout).
bool expected_layout(const uint8_t* data, size_t size, CarrierLayout* layout) {
    const size_t got = size < kHeaderProbe ? size : kHeaderProbe;
    if (got < 0x40 || le16(data) != 0x5A4D) return false;
    const uint64_t pe = le32(data + 0x3C), optional = pe + 24;
    if (got < 24 + 224 || pe + 24 + 224 > got || le32(data + pe) != 0x4550 ||
        le16(data + optional) != 0x10B)
        return false;
    const uint64_t table = optional + le16(data + pe + 20), sections = le16(data + pe + 6);
    if (table + 40 * sections > got) return false;
    uint64_t image_end = 0;
    for (uint64_t i = 0; i < sections; ++i) {
        const uint8_t* section = data + table + 40 * i;
        const uint64_t end = uint64_t(le32(section + 20)) + le32(section + 16);
        if (end > 0xFFFFFFFFu) return false;
        if (end > image_end) image_end = end;
    }
    *layout = CarrierLayout();
    layout->file_size = layout->content_end = uint32_t(size);
    layout->image_end = uint32_t(image_end);
    const uint32_t directories = le32(data + optional + 92);
    const uint32_t at = le32(data + optional + 96 + 32), length = le32(data + optional + 100 + 32);
    if (directories > 4 && length != 0 && at >= image_end && uint64_t(at) + length == size) {
        layout->content_end = layout->cert_offset = at;
        layout->cert_size = length;
    }
    return true;
}

// verify's exit code, what it says sent nowhere.
int verify_quietly(const CarrierRequest& request) {
    std::fflush(stdout);
    std::fflush(stderr);
    const int out = dup(1), err = dup(2), null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(null, 1);
    dup2(null, 2);
    const int code = verify_carrier(request);
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(out, 1);
    dup2(err, 2);
    close(out);
    close(err);
    close(null);
    return code;
}

bool folder_is_empty(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return true;
    bool empty = true;
    while (const dirent* e = readdir(dir))
        empty = empty && (std::string(e->d_name) == "." || std::string(e->d_name) == "..");
    closedir(dir);
    return empty;
}

bool shell_was_asked() {
    for (const std::string& call : host::calls())
        if (call.rfind("ShellExecute", 0) == 0) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RunScratch& s = scratch();
    s.write_carrier(data, size);

    // The launcher's own reading, as its run makes it.
    HANDLE file = CreateFileA(s.carrier().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    FUZZ_CHECK(file != INVALID_HANDLE_VALUE, "cannot open the carrier");
    Win32Carrier launcher_file(file);
    CarrierLayout layout, expected;
    const bool read = read_carrier_layout(launcher_file.file(), &layout);
    FUZZ_CHECK(read == expected_layout(data, size, &expected), "headers %s, though their rules %s them",
               read ? "taken" : "refused", read ? "refuse" : "allow");
    IntegrityRecord record;
    Integrity state = Integrity::kNoRecord;
    if (read) {
        FUZZ_CHECK(layout.file_size == expected.file_size && layout.image_end == expected.image_end &&
                       layout.content_end == expected.content_end &&
                       layout.cert_offset == expected.cert_offset && layout.cert_size == expected.cert_size,
                   "layout: image end %u, content end %u, table %u+%u; the headers say %u, %u, %u+%u",
                   layout.image_end, layout.content_end, layout.cert_offset, layout.cert_size,
                   expected.image_end, expected.content_end, expected.cert_offset, expected.cert_size);
        state = check_integrity(launcher_file.file(), layout, &record);
    }
    CloseHandle(file);
    const bool refused = state == Integrity::kTruncated || state == Integrity::kDamaged;

    s.clear_folder();
    host::clear_calls();
    const int launched = extract_archive();
    FUZZ_CHECK(host::open_handles() == 0, "%d handles left open", host::open_handles());
    if (refused)
        FUZZ_CHECK(launched == 0 && folder_is_empty(s.folder()) && !shell_was_asked(),
                   "a carrier found cut or damaged was run");

    CarrierRequest request;
    request.carrier = s.carrier();
    request.temp_length = int(s.windows_temp().size());
    const bool verified = verify_quietly(request) == 0;
    FUZZ_CHECK(!(refused && verified), "verify passed a carrier the launcher refuses");

    // What the walk under verify read is the launcher's reading (all zero
    // where it took the plain layout).
    WalkSink counter;
    const WalkResult walk = walk_carrier(s.carrier(), counter, request.temp_length);
    FUZZ_CHECK(walk.carrier.cert_offset == layout.cert_offset &&
                   walk.carrier.cert_size == layout.cert_size && walk.carrier.image_size == layout.image_end,
               "walk: image end %llu, table %u+%u; the launcher read %u, %u+%u",
               static_cast<unsigned long long>(walk.carrier.image_size), walk.carrier.cert_offset,
               walk.carrier.cert_size, layout.image_end, layout.cert_offset, layout.cert_size);
    // Two states the walk names otherwise: a signed carrier cut at its
    // table is no longer what was signed; a program with nothing appended
    // has no record at all. verify fails both.
    const Integrity reported = walk.carrier.integrity;
    const bool cut_at_table = state == Integrity::kIntact && reported == Integrity::kTruncated &&
                              layout.cert_size == 0;
    const bool bare_program = state == Integrity::kTruncated && reported == Integrity::kNoRecord &&
                              layout.content_end == layout.image_end;
    FUZZ_CHECK(reported == state || ((cut_at_table || bare_program) && !verified),
               "walk reports integrity %d, the launcher found %d", int(reported), int(state));

    // Names too long for this %TEMP%, or not UTF-8 (the stand-in's code
    // page), tell nothing of the launcher's run on Windows.
    bool comparable = verified;
    for (const WalkWarning& warning : walk.warnings)
        comparable = comparable && warning.doubt != Doubt::kNeedsShortTemp;
    std::u16string ignored;
    comparable = comparable && utf8_to_utf16(walk.carrier.launch_name, ignored);
    for (const CarrierEntry& entry : walk.carrier.entries)
        comparable = comparable && utf8_to_utf16(entry.name, ignored);
    if (comparable) FUZZ_CHECK(launched == 1, "verify passed a carrier the launcher's run fails on");

    FUZZ_CHECK(host::open_handles() == 0, "%d handles left open", host::open_handles());
    s.check_tree(data, size);
    host::clear_calls();  // freed within the run, for libFuzzer's leak accounting
    return 0;
}

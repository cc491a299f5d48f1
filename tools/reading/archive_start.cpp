#include "tools/reading/archive_start.h"

#include <string>
#include <tuple>

#include "archive/archive_reader.h"
#include "archive/carrier_integrity.h"

namespace {

// What the steps share: the file and what the integrity check learnt.
struct Front {
    ProgramFile& file;
    WalkFindings& findings;
    uint64_t size = 0;
    uint64_t end = 0;            // where the launcher takes the content to end, 0 for the file's end
    uint64_t record_offset = 0;  // the archive's offset by an intact record
};

std::string length_mismatch(uint64_t expected, uint64_t found) {
    const std::string counts = "expected " + std::to_string(expected) + " bytes, found " +
                               std::to_string(found);
    return found < expected ? "truncated: " + counts : counts + ": data was added after packing";
}

// The length of a carrier signed after packing. Cut short, its table no
// longer ends the file, but its headers still say where the table starts
// (where the record says the carrier ended) and how long it is. Asked only
// once read_carrier_layout has accepted the headers.
bool signed_length(Front& f, const IntegrityRecord& record, uint64_t* length) {
    const PeHeaders* headers = f.file.headers();
    if (!headers) return false;
    uint32_t at = 0, size = 0;
    std::tie(at, size) = headers->directory(kCertificateDirectory, f.file.head());
    if (size == 0 || at != record.carrier_length) return false;
    *length = uint64_t(at) + size;
    return true;
}

// Why check_integrity found the carrier's length wrong; `record` is
// decoded whenever the file holds one whole.
std::string length_problem(Front& f, const CarrierLayout& layout, const IntegrityRecord& record) {
    if (layout.content_end < layout.image_end)
        return "truncated: file of " + std::to_string(layout.content_end) +
               " bytes ends inside the launcher's image of " + std::to_string(layout.image_end);
    if (layout.content_end - layout.image_end < kRecordSize)
        return "truncated: file ends inside the integrity record";
    if (record.carrier_length != layout.content_end) {
        uint64_t expected = record.carrier_length, found = layout.content_end;
        if (signed_length(f, record, &expected)) found = f.size;
        return length_mismatch(expected, found);
    }
    return "integrity record does not match the carrier: archive at offset " +
           std::to_string(record.archive_offset) + ", " + std::to_string(record.archive_length) +
           " bytes; expected at offset " + std::to_string(uint64_t(layout.image_end) + kRecordSize) +
           ", running up to the trailer";
}

std::string damage(Front& f, const CarrierLayout& layout) {
    uint8_t bytes[kRecordSize];
    IntegrityRecord ignored;
    if (f.file.file().read_at(layout.image_end, bytes, kRecordSize) &&
        decode_record(bytes, &ignored) == RecordState::kCorrupt)
        return "integrity record damaged: its own checksum does not match";
    return "archive checksum mismatch";
}

// The verdict of check_integrity, as the run meets it.
bool judge_record(Front& f, const CarrierLayout& layout) {
    Carrier& carrier = f.findings.carrier();
    IntegrityRecord& record = carrier.record;
    switch (carrier.integrity) {
    case Integrity::kNoRecord:
        f.findings.result().notes.push_back("no integrity record");
        return true;
    case Integrity::kIntact:
        f.record_offset = record.archive_offset;
        // Cut right at its certificate table, a signed carrier still runs,
        // but it is no longer what was signed.
        if (uint64_t expected = 0; layout.cert_size == 0 && signed_length(f, record, &expected)) {
            carrier.integrity = Integrity::kTruncated;
            return f.findings.fail_carrier(length_mismatch(expected, f.size));
        }
        return true;
    case Integrity::kTruncated:
        // A plain program, the bare launcher or any setup.exe, ends where
        // its image does: nothing was cut from it.
        if (layout.content_end == layout.image_end) {
            carrier.integrity = Integrity::kNoRecord;
            return f.findings.fail_carrier("not a carrier: nothing is appended to this program");
        }
        return f.findings.fail_carrier(length_problem(f, layout, record));
    case Integrity::kDamaged:
        return f.findings.fail_carrier(damage(f, layout));
    }
    return true;
}

// The launcher's own check, before anything else it does, and its idea of
// where the carrier's content ends (before a signature).
bool check_record(Front& f) {
    CarrierLayout layout;
    Carrier& carrier = f.findings.carrier();
    if (!read_carrier_layout(f.file.file().carrier(), &layout)) {
        f.findings.result().notes.push_back("no integrity record");
        return true;  // headers the launcher cannot read: it takes the plain layout
    }
    f.end = layout.content_end;
    carrier.image_size = layout.image_end;
    carrier.cert_offset = layout.cert_offset;
    carrier.cert_size = layout.cert_size;
    if (layout.cert_size != 0)
        f.findings.result().notes.push_back("signed: certificate table at offset " +
                                            std::to_string(layout.cert_offset));
    carrier.integrity = check_integrity(f.file.file().carrier(), layout, &carrier.record);
    return judge_record(f, layout);
}

bool locate(Front& f) {
    InputFile& file = f.file.file();
    // As the launcher: before the signature when it read its headers.
    if (!(f.end ? locate_archive_before(file.carrier(), uint32_t(f.end)) : locate_archive(file.carrier()))) {
        const uint64_t end = f.end ? f.end : f.size;
        uint32_t offset = 0;
        std::string reason;
        if (end < 4 || !file.seek(end - 4) || !read_u32(file.carrier(), &offset))
            reason = "file of " + std::to_string(end) + " bytes has no trailer";
        else
            reason = "offset " + std::to_string(offset) +
                     " does not point into the file before the trailer, below 2 GiB";
        // With no record to say it was packed, nothing says it is a carrier.
        if (f.findings.carrier().integrity == Integrity::kNoRecord)
            return f.findings.fail_carrier("not a carrier: no integrity record, and trailer: " + reason);
        return f.findings.fail_trailer(reason);
    }
    const uint64_t start = f.findings.carrier().archive_start = file.position();
    f.findings.set_archive_start(start);
    // The checksum covers the archive, not the trailer that leads to it.
    if (f.record_offset != 0 && start != f.record_offset)
        return f.findings.fail_trailer("offset " + std::to_string(start) +
                                       ", but the integrity record puts the archive at " +
                                       std::to_string(f.record_offset));
    return true;
}

}  // namespace

bool find_archive_start(ProgramFile& file, WalkFindings& findings) {
    Front f{file, findings, file.file().size()};
    // Without a high part, Windows' SetFilePointer cannot report a trailer
    // at 4 GiB or beyond, so the launcher finds no archive there.
    if (f.size >= 0xFFFFFFFFull + 4)
        return findings.fail_trailer("4 GiB or more: the launcher cannot seek to the trailer");
    // Windows starts nothing that does not begin with MZ, so such a file is
    // no carrier, whatever its last bytes say.
    if (file.head_size() < 2 || file.head()[0] != 'M' || file.head()[1] != 'Z')
        return findings.fail_carrier("not a carrier: not a Windows program (it does not start with MZ)");
    return check_record(f) && locate(f);
}

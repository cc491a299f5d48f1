// The integrity record and signed carriers: a cut or damaged carrier is
// refused by the launcher before it touches the extraction folder, and by
// courier-pack verify in words; a carrier without a record runs as before;
// a signed one runs and verifies as it was packed.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "archive/carrier_integrity.h"
#include "platform/platform.h"
#include "run/extract_run.h"
#include "test_support.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int);

namespace {

// 4.5 KiB: cuts every 4 KiB fall in the image, and past it in the archive.
constexpr size_t kStubSize = 4608;
const char kFailure[] = ",File Extraction Error, Cannot Continue.,Error,0x0)";

std::vector<ArchiveEntry> payload() {
    return {{"Install.exe", random_bytes(9000, 1)},
            {"readme.txt", text_like(30000, 2)},
            {"empty.dat", {}},
            {"zeros.bin", std::vector<uint8_t>(20000, 0)}};
}

std::string n(size_t value) { return std::to_string(value); }

class Integrity : public ::testing::Test {
protected:
    // One carrier packed by courier-pack for the whole suite.
    static void SetUpTestSuite() {
        ScratchDir inputs;
        write_file(inputs / "stub.exe", minimal_pe_stub(kStubSize));
        std::vector<std::string> args = {"pack", "-o", inputs / "carrier.exe", "--launch",
                                         "install.exe", "--stub", inputs / "stub.exe"};
        for (const ArchiveEntry& e : payload()) {
            write_file(inputs / e.name, e.data);
            args.push_back(inputs / e.name);
        }
        const ToolResult r = run_tool(COURIER_PACK_PATH, args, inputs);
        ASSERT_EQ(r.code, 0) << r.err;
        packed = read_file(inputs / "carrier.exe");
    }
    void SetUp() override { ASSERT_FALSE(packed.empty()); }

    ToolResult courier(const std::vector<std::string>& args) {
        return run_tool(COURIER_PACK_PATH, args, dir);
    }
    ToolResult verify(const std::vector<uint8_t>& carrier) {
        write_file(dir / "check.exe", carrier);
        return courier({"verify", dir / "check.exe"});
    }
    void expect_verify_fails(const std::vector<uint8_t>& carrier, const std::string& reason,
                             const std::string& what) {
        ToolResult r = verify(carrier);
        EXPECT_EQ(r.code, 1) << what;
        EXPECT_EQ(r.err, "courier-pack: " + dir / "check.exe" + ": " + reason + "\n") << what;
        r = courier({"verify", "--json", dir / "check.exe"});
        EXPECT_EQ(r.code, 1) << what;
        const nlohmann::json doc = nlohmann::json::parse(r.out);
        EXPECT_EQ(doc["ok"], false) << what;
        EXPECT_EQ(doc["failure"]["message"], reason) << what;
        EXPECT_EQ(doc["integrity"]["state"],
                  reason.find("checksum") != std::string::npos ? "damaged" : "truncated")
            << what << r.out;
    }

    // The launcher as started: nothing written (the folder is not even
    // created), nothing opened, the one message, exit code 1. Returns what
    // went otherwise, "" when nothing did.
    static std::string refusal_problems(const std::vector<uint8_t>& carrier) {
        RunSetup run;
        write_file(run.carrier(), carrier);
        host::clear_calls();
        std::string problems;
        if (WinMain(nullptr, nullptr, nullptr, 0) != 1) problems += " exit code not 1;";
        if (file_exists(run.folder())) problems += " extraction folder created;";
        if (!run.calls_starting("ShellExecuteW").empty()) problems += " launch file opened;";
        const auto boxes = run.calls_starting("MessageBoxA");
        if (boxes.size() != 1 || boxes[0].find(kFailure) == std::string::npos)
            problems += " " + std::to_string(boxes.size()) + " failure messages;";
        if (host::open_handles() != 0) problems += " handles left open;";
        return problems;
    }
    static void expect_refused(const std::vector<uint8_t>& carrier, const std::string& what) {
        EXPECT_EQ(refusal_problems(carrier), "") << what;
    }

    void expect_extracts(const std::vector<uint8_t>& carrier, const std::string& what) {
        RunSetup run;
        EXPECT_EQ(run.run(carrier), 1) << what;
        for (const ArchiveEntry& e : entries)
            EXPECT_EQ(read_file(run.out(e.name)), e.data) << what << ": " << e.name;
        EXPECT_EQ(run.calls_starting("ShellExecuteW").size(), 1u) << what;
    }

    static std::vector<uint8_t> cut(size_t size) {
        return std::vector<uint8_t>(packed.begin(), packed.begin() + std::ptrdiff_t(size));
    }

    ScratchDir dir;
    const std::vector<ArchiveEntry> entries = payload();
    static std::vector<uint8_t> packed;
};

std::vector<uint8_t> Integrity::packed;

TEST_F(Integrity, CutCarriersAreRefusedBeforeAnythingIsTouched) {
    const size_t size = packed.size(), record_at = kStubSize, archive_at = kStubSize + kRecordSize;
    std::vector<size_t> cuts;
    for (size_t at = 4096; at < size - 64; at += 4096) cuts.push_back(at);
    for (size_t at = size - 64; at < size; ++at) cuts.push_back(at);
    cuts.push_back(record_at - 1);
    for (size_t at = record_at + 1; at < archive_at; ++at) cuts.push_back(at);
    for (size_t at : cuts) expect_refused(cut(at), "cut at " + n(at));

    // verify names the fault, on a sample of the same cuts.
    for (size_t i = 0; i < cuts.size(); i += 9) {
        const size_t at = cuts[i];
        const std::string reason =
            at < record_at  ? "truncated: file of " + n(at) + " bytes ends inside the launcher's image of " + n(kStubSize)
            : at < archive_at ? "truncated: file ends inside the integrity record"
                              : "truncated: expected " + n(size) + " bytes, found " + n(at);
        expect_verify_fails(cut(at), reason, "cut at " + n(at));
    }

    // Bytes added after packing are refused the same way.
    auto longer = packed;
    longer.insert(longer.end(), 8, 0);
    expect_refused(longer, "8 bytes appended");
    expect_verify_fails(longer, "expected " + n(size) + " bytes, found " + n(size + 8) +
                                    ": data was added after packing", "appended");
}

TEST_F(Integrity, CutExactlyAtTheImageEndIsRefused) {
    // Nothing of the record is left, but a launcher with nothing after its
    // image has no archive either: it must not read its own image as one.
    expect_refused(cut(kStubSize), "cut at the end of the image");
    EXPECT_EQ(verify(cut(kStubSize)).code, 1);
}

TEST_F(Integrity, FlippedBitsAreCaught) {
    const size_t archive_at = kStubSize + kRecordSize, trailer_at = packed.size() - 4;
    int checked = 0;
    for (size_t at = archive_at, i = 0; at < trailer_at; at += 211, ++i) {
        auto flipped = packed;
        flipped[at] ^= uint8_t(1 << (i % 8));
        expect_refused(flipped, "archive byte " + n(at));
        if (i % 16 == 0) expect_verify_fails(flipped, "archive checksum mismatch", "byte " + n(at));
        ++checked;
    }
    EXPECT_GT(checked, 80);
    auto padding = packed;  // the checksum runs up to the trailer
    padding[trailer_at - 1] ^= 0x80;
    expect_refused(padding, "last byte before the trailer");

    // The record's fields and its own checksum. (A damaged magic reads as no
    // record: the archive, intact, then runs as before.)
    for (size_t bit = 8 * 8; bit < 8 * kRecordSize; bit += 3) {
        auto flipped = packed;
        flipped[kStubSize + bit / 8] ^= uint8_t(1 << (bit % 8));
        expect_refused(flipped, "record bit " + n(bit));
    }
    // A record sealed again, sound in itself, that puts the archive further
    // on; the archive's checksum and the trailer agree with it.
    for (uint32_t shift : {8u, 16u}) {
        auto moved = packed;
        IntegrityRecord r;
        ASSERT_EQ(decode_record(&moved[kStubSize], &r), RecordState::kValid);
        r.archive_offset += shift;
        r.archive_length -= shift;
        r.archive_crc = crc32_update(0, &moved[r.archive_offset], r.archive_length);
        uint8_t bytes[kRecordSize];
        encode_record(r, bytes);
        std::copy(bytes, bytes + kRecordSize, moved.begin() + std::ptrdiff_t(kStubSize));
        for (int b = 0; b < 4; ++b) moved[trailer_at + size_t(b)] = uint8_t(r.archive_offset >> (8 * b));
        expect_refused(moved, "archive offset moved by " + n(shift));
    }

    auto record = packed;
    record[kStubSize + 20] ^= 1;  // the archive checksum field
    expect_verify_fails(record, "integrity record damaged: its own checksum does not match", "record");
}

TEST_F(Integrity, FlippedTrailerBitsAreCaught) {
    // The checksum covers the archive, not the trailer leading to it.
    const size_t trailer_at = packed.size() - 4;
    std::string wrong;
    for (size_t bit = 0; bit < 32; ++bit) {
        auto flipped = packed;
        flipped[trailer_at + bit / 8] ^= uint8_t(1 << (bit % 8));
        const std::string problems = refusal_problems(flipped);
        if (!problems.empty()) wrong += "\n  bit " + n(bit) + ":" + problems;
        if (bit % 5 == 0) {
            EXPECT_EQ(verify(flipped).code, 1) << "trailer bit " << bit;
        }
    }
    EXPECT_EQ(wrong, "");
}

TEST_F(Integrity, CarrierWithoutRecordRunsAsBefore) {
    const auto plain = build_carrier(minimal_pe_stub(kStubSize), "install.exe", entries);
    expect_extracts(plain, "no record");
    ToolResult r = verify(plain);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("no integrity record\n", 0), 0u) << r.out;
    // Signed too: the trailer is found before the certificate table.
    r = verify(signed_copy(plain));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("no integrity record\n"), std::string::npos) << r.out;
    expect_extracts(signed_copy(plain), "no record, signed");
}

TEST_F(Integrity, SignedCarrierRunsVerifiesAndStillCatchesDamage) {
    const auto signed_carrier = signed_copy(packed);
    const std::string note = "signed: certificate table at offset " + n(packed.size()) +
                             ", signature not checked (osslsigncode verify or signtool verify /pa checks it)\n";
    // A table is a signature only where the headers hold its entry (more
    // than 4 data directories) and it ends the file: bytes after it, which
    // the signature does not cover, were added after packing.
    auto directories = [&](uint32_t count) {
        auto carrier = signed_carrier;
        set_directory_count(carrier, count);
        return carrier;
    };
    auto appended = signed_carrier;
    appended.insert(appended.end(), 8, 0);
    const struct {
        const char* what;
        std::vector<uint8_t> carrier;
        std::string reason;  // "" when it runs and verifies
    } cases[] = {
        {"signed", signed_carrier, ""},
        {"signed, 5 data directories", directories(5), ""},
        {"signed, 4 data directories: no certificate entry", directories(4),
         "expected " + n(packed.size()) + " bytes, found " + n(signed_carrier.size()) +
             ": data was added after packing"},
        {"signed, 8 bytes after the table", appended,
         "expected " + n(signed_carrier.size()) + " bytes, found " + n(appended.size()) +
             ": data was added after packing"},
    };
    for (const auto& c : cases) {
        if (!c.reason.empty()) {
            expect_refused(c.carrier, c.what);
            expect_verify_fails(c.carrier, c.reason, c.what);
            continue;
        }
        expect_extracts(c.carrier, c.what);
        const ToolResult r = verify(c.carrier);
        EXPECT_EQ(r.code, 0) << c.what << ": " << r.err;
        EXPECT_EQ(r.out.rfind(note, 0), 0u) << c.what << ": " << r.out;
    }
    write_file(dir / "check.exe", signed_carrier);
    ToolResult r = courier({"verify", "--json", dir / "check.exe"});
    const nlohmann::json doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["signature"], (nlohmann::json{{"offset", packed.size()}, {"size", signed_carrier.size() - packed.size()}}));
    EXPECT_EQ(doc["integrity"]["state"], "intact");
    EXPECT_EQ(doc["integrity"]["carrier_length"], packed.size());
    r = courier({"list", dir / "check.exe"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind(note, 0), 0u) << r.out;

    for (size_t cut_by : {1, 3, 8, 1310}) {
        const std::vector<uint8_t> short_copy(signed_carrier.begin(), signed_carrier.end() - std::ptrdiff_t(cut_by));
        expect_refused(short_copy, "signed, cut by " + n(cut_by));
        expect_verify_fails(short_copy,
                            "truncated: expected " + n(signed_carrier.size()) + " bytes, found " +
                                n(signed_carrier.size() - cut_by),
                            "signed, cut by " + n(cut_by));
    }
    // Cut at the table: the archive is whole, so the launcher runs it; the
    // signature is gone, which verify reports.
    const std::vector<uint8_t> unsigned_again(signed_carrier.begin(), signed_carrier.begin() + std::ptrdiff_t(packed.size()));
    expect_extracts(unsigned_again, "signed, cut at the table");
    expect_verify_fails(unsigned_again, "truncated: expected " + n(signed_carrier.size()) +
                                            " bytes, found " + n(packed.size()),
                        "signed, cut at the table");

    auto flipped = signed_carrier;
    flipped[kStubSize + kRecordSize + 5000] ^= 0x10;
    expect_refused(flipped, "signed, archive bit");
    expect_verify_fails(flipped, "archive checksum mismatch", "signed, archive bit");
}

TEST(IntegrityLimits, CarrierPastTwoGiBStillRuns) {
    // Sparse: an archive near the start, its trailer past 2 GiB. A plain
    // stub, so no record and no checksum pass over the hole.
    RunSetup run;
    std::vector<uint8_t> head = fake_stub();
    const auto archive = archive_of("a.txt", {{"a.txt", {'h', 'i'}}});
    head.insert(head.end(), archive.begin(), archive.end());
    std::vector<uint8_t> trailer;
    append_u32(trailer, uint32_t(fake_stub().size()));
    {
        std::ofstream out(run.carrier(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(head.data()), std::streamsize(head.size()));
        out.seekp(std::streamoff(0x80000000ll + 64));
        out.write(reinterpret_cast<const char*>(trailer.data()), 4);
        ASSERT_TRUE(out.good()) << "no room for a sparse 2 GiB file";
    }
    host::clear_calls();
    EXPECT_EQ(extract_archive(), 1);
    EXPECT_EQ(read_file(run.out("a.txt")), (std::vector<uint8_t>{'h', 'i'}));
}

}  // namespace

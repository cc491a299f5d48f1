// Decoding and packing throughput on a corpus of real files, with zlib and
// memcpy run alongside as yardsticks, followed by a summary of ratios and
// sizes.
//
//   decode_bench [benchmark flags] [CORPUS_DIR...]
// Without directories, BRISK_CORPUS and BRISK_LARGE_CORPUS name them.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/support/carrier_builder.h"
#include "archive/carrier_integrity.h"
#include "archive/chunk_decoder.h"
#include "tests/support/reference_decoder.h"

namespace {

struct Chunk {
    size_t offset;  // of the body within the file's records
    int32_t length;
};

struct File {
    std::string name;
    std::vector<uint8_t> data;
    std::vector<uint8_t> records;  // optimal encoder
    std::vector<Chunk> chunks;
    std::vector<uint8_t> deflated;  // raw deflate, level 9
};

struct Corpus {
    std::string name;
    std::vector<File> files;
    size_t total = 0;
    size_t largest = 0;
    size_t records_optimal = 0, records_greedy = 0;
    size_t archive_optimal = 0, archive_greedy = 0;  // build_carrier with an empty stub
    size_t deflate9 = 0, gzip9 = 0;
};

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "decode_bench: %s\n", what.c_str());
    std::exit(1);
}

std::vector<uint8_t> read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) die("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> list_dir(const std::string& dir) {
    std::error_code error;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    if (error) die("cannot open corpus " + dir + ": " + error.message());
    std::sort(names.begin(), names.end());
    return names;
}

// window_bits -15: raw deflate; 31: gzip wrapper, as `gzip -9` writes.
std::vector<uint8_t> deflate9(const std::vector<uint8_t>& data, int window_bits) {
    z_stream zs{};
    if (deflateInit2(&zs, 9, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        die("deflateInit2");
    std::vector<uint8_t> out(deflateBound(&zs, data.size()) + 64);
    zs.next_in = const_cast<uint8_t*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    if (deflate(&zs, Z_FINISH) != Z_STREAM_END) die("deflate");
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

std::vector<Chunk> split_records(const std::vector<uint8_t>& records) {
    std::vector<Chunk> chunks;
    for (size_t at = 0; at + 4 <= records.size();) {
        const uint32_t length = records[at] | records[at + 1] << 8 | records[at + 2] << 16 |
                                uint32_t(records[at + 3]) << 24;
        chunks.push_back({at + 4, int32_t(length)});
        at += 4 + length;
    }
    return chunks;
}

// The four ways to produce a corpus's bytes. Each writes every file into
// `out` and returns the bytes produced.
size_t decode_ours(const Corpus& c, std::vector<uint8_t>& out) {
    size_t produced = 0;
    for (const File& f : c.files) {
        ChunkDecoder decoder;
        size_t at = 0;
        for (const Chunk& ch : f.chunks) {
            const int32_t n = decoder.decode_chunk(&f.records[ch.offset], ch.length, &out[at],
                                                   kChunkOutputCapacity);
            if (n < 0) return 0;
            at += size_t(n);
        }
        benchmark::DoNotOptimize(out.data());
        produced += at;
    }
    return produced;
}

size_t decode_reference(const Corpus& c, std::vector<uint8_t>& out) {
    size_t produced = 0;
    uint8_t ring[kRingSize];
    for (const File& f : c.files) {
        std::memset(ring, 0, sizeof ring);
        size_t at = 0;
        for (const Chunk& ch : f.chunks) {
            const int32_t n = reference::decode_chunk(ring, &f.records[ch.offset], ch.length,
                                                      &out[at], kChunkOutputCapacity);
            if (n < 0) return 0;
            at += size_t(n);
        }
        benchmark::DoNotOptimize(out.data());
        produced += at;
    }
    return produced;
}

size_t inflate_zlib(const Corpus& c, std::vector<uint8_t>& out) {
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK) die("inflateInit2");
    size_t produced = 0;
    for (const File& f : c.files) {
        inflateReset(&zs);
        zs.next_in = const_cast<uint8_t*>(f.deflated.data());
        zs.avail_in = static_cast<uInt>(f.deflated.size());
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        if (inflate(&zs, Z_FINISH) != Z_STREAM_END) break;
        benchmark::DoNotOptimize(out.data());
        produced += zs.total_out;
    }
    inflateEnd(&zs);
    return produced;
}

// The launcher's integrity pass: CRC-32 over the bytes, in its 256 KiB reads.
size_t checksum_crc32(const Corpus& c, std::vector<uint8_t>&) {
    size_t done = 0;
    for (const File& f : c.files) {
        uint32_t crc = 0;
        for (size_t at = 0; at < f.data.size(); at += 256 * 1024)
            crc = crc32_update(crc, f.data.data() + at, std::min<size_t>(256 * 1024, f.data.size() - at));
        benchmark::DoNotOptimize(crc);
        done += f.data.size();
    }
    return done;
}

size_t copy_memcpy(const Corpus& c, std::vector<uint8_t>& out) {
    size_t produced = 0;
    for (const File& f : c.files) {
        std::memcpy(out.data(), f.data.data(), f.data.size());
        benchmark::ClobberMemory();
        produced += f.data.size();
    }
    return produced;
}

using Producer = size_t (*)(const Corpus&, std::vector<uint8_t>&);

// Runs each way once and compares with the files, so that a benchmark never
// times a decoder that gives wrong bytes.
void check_producers(const Corpus& c) {
    const std::pair<const char*, Producer> ways[] = {
        {"decode", decode_ours}, {"reference", decode_reference}, {"inflate", inflate_zlib}};
    std::vector<uint8_t> out(c.largest + kChunkOutputCapacity);
    for (const auto& way : ways) {
        // Per file, since every way reuses the buffer.
        for (const File& f : c.files) {
            Corpus one;
            one.files.push_back(f);
            std::fill(out.begin(), out.end(), 0xA5);
            if (way.second(one, out) != f.data.size() ||
                !std::equal(f.data.begin(), f.data.end(), out.begin()))
                die(std::string(way.first) + " gives wrong bytes for " + c.name + "/" + f.name);
        }
    }
}

Corpus load_corpus(const std::string& name, const std::string& dir) {
    Corpus c;
    c.name = name;
    std::vector<ArchiveEntry> entries;
    for (const std::string& file : list_dir(dir)) {
        File f;
        f.name = file;
        f.data = read_all(dir + "/" + file);
        if (f.data.empty()) continue;
        c.total += f.data.size();
        c.largest = std::max(c.largest, f.data.size());
        c.records_optimal += append_chunk_records(f.data.data(), f.data.size(), EncoderOptions(),
                                                  f.records);
        f.chunks = split_records(f.records);
        f.deflated = deflate9(f.data, -15);
        c.deflate9 += f.deflated.size();
        c.gzip9 += deflate9(f.data, 31).size();
        entries.push_back({file, f.data});
        c.files.push_back(std::move(f));
    }
    if (c.files.empty()) die("corpus " + dir + " has no files");
    const std::string launch = entries.front().name;
    c.archive_optimal = build_carrier({}, launch, entries, EncoderOptions()).size();
    c.archive_greedy = build_carrier({}, launch, entries, greedy_encoder_options()).size();
    // Names, sizes, end marker and trailer are the same in both archives.
    c.records_greedy = c.archive_greedy - (c.archive_optimal - c.records_optimal);
    check_producers(c);
    return c;
}

void register_corpus(const Corpus& c) {
    const std::pair<const char*, Producer> ways[] = {{"decode", decode_ours},
                                                     {"reference", decode_reference},
                                                     {"inflate", inflate_zlib},
                                                     {"memcpy", copy_memcpy},
                                                     {"crc32", checksum_crc32}};
    for (const auto& way : ways) {
        const Producer produce = way.second;
        benchmark::RegisterBenchmark((c.name + "/" + way.first).c_str(),
                                     [&c, produce](benchmark::State& state) {
                                         std::vector<uint8_t> out(c.largest + kChunkOutputCapacity);
                                         size_t bytes = 0;
                                         for (auto _ : state) bytes += produce(c, out);
                                         state.SetBytesProcessed(int64_t(bytes));
                                     })
            ->Unit(benchmark::kMillisecond);
    }
    const std::pair<const char*, EncoderOptions> packers[] = {
        {"pack_optimal", EncoderOptions()}, {"pack_greedy", greedy_encoder_options()}};
    for (const auto& packer : packers) {
        const EncoderOptions options = packer.second;
        benchmark::RegisterBenchmark((c.name + "/" + packer.first).c_str(),
                                     [&c, options](benchmark::State& state) {
                                         std::vector<uint8_t> out;
                                         for (auto _ : state) {
                                             for (const File& f : c.files) {
                                                 out.clear();
                                                 append_chunk_records(f.data.data(), f.data.size(),
                                                                      options, out);
                                                 benchmark::DoNotOptimize(out.data());
                                             }
                                         }
                                         state.SetBytesProcessed(int64_t(state.iterations() *
                                                                         c.total));
                                     })
            ->Unit(benchmark::kMillisecond);
    }
}

// Keeps each benchmark's throughput (the median when runs are repeated)
// for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter() : ConsoleReporter(isatty(1) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end()) continue;
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") medians_[name] = it->second.value;
            } else {
                iterations_[name] = it->second.value;
            }
        }
    }
    // Bytes per second, or 0 when the benchmark did not run.
    double rate(const std::string& name) const {
        auto it = medians_.find(name);
        if (it != medians_.end()) return it->second;
        it = iterations_.find(name);
        return it == iterations_.end() ? 0 : it->second;
    }

private:
    std::map<std::string, double> medians_, iterations_;
};

void print_summary(const Corpus& c, const SummaryReporter& r) {
    const auto mbs = [&](const char* way) { return r.rate(c.name + "/" + way) / 1e6; };
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    const double ours = mbs("decode");
    std::printf("\n== %s: %zu files, %zu bytes; the decoder's words: %zu bits\n", c.name.c_str(),
                c.files.size(), c.total, sizeof(void*) * 8);
    std::printf("decode MB/s (output):  ours %.0f  reference %.0f  zlib inflate %.0f  memcpy %.0f\n",
                ours, mbs("reference"), mbs("inflate"), mbs("memcpy"));
    std::printf("ours vs zlib inflate %.2fx, vs reference %.2fx, vs memcpy %.3fx\n",
                ratio(ours, mbs("inflate")), ratio(ours, mbs("reference")),
                ratio(ours, mbs("memcpy")));
    std::printf("integrity CRC-32 MB/s: %.0f\n", mbs("crc32"));
    std::printf("pack MB/s (input):     optimal %.2f  greedy %.2f\n", mbs("pack_optimal"),
                mbs("pack_greedy"));
    std::printf("archive without stub:  optimal %zu  greedy %zu bytes (optimal %.1f%% smaller)\n",
                c.archive_optimal, c.archive_greedy,
                100.0 * (1.0 - double(c.archive_optimal) / double(c.archive_greedy)));
    std::printf("chunk records:         optimal %zu (%.1f%% of input)  greedy %zu (%.1f%%)\n",
                c.records_optimal, 100.0 * double(c.records_optimal) / double(c.total),
                c.records_greedy, 100.0 * double(c.records_greedy) / double(c.total));
    std::printf("zlib level 9:          gzip -9 per file %zu (%.1f%%)  raw deflate %zu bytes\n",
                c.gzip9, 100.0 * double(c.gzip9) / double(c.total), c.deflate9);
}

std::string base_name(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::vector<std::pair<std::string, std::string>> dirs;
    for (int i = 1; i < argc; ++i) dirs.push_back({base_name(argv[i]), argv[i]});
    if (dirs.empty()) {
        if (const char* d = std::getenv("BRISK_CORPUS")) dirs.push_back({"small", d});
        if (const char* d = std::getenv("BRISK_LARGE_CORPUS")) dirs.push_back({"large", d});
    }
    if (dirs.empty()) {
        std::fprintf(stderr,
                     "usage: %s [benchmark flags] CORPUS_DIR...\n"
                     "   or set BRISK_CORPUS and/or BRISK_LARGE_CORPUS\n",
                     argv[0]);
        return 2;
    }
    std::deque<Corpus> corpora;  // benchmarks keep references into it
    for (const auto& d : dirs) {
        std::fprintf(stderr, "packing %s ...\n", d.second.c_str());
        corpora.push_back(load_corpus(d.first, d.second));
        register_corpus(corpora.back());
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const Corpus& c : corpora) print_summary(c, reporter);
    benchmark::Shutdown();
    return 0;
}

// Packing throughput of FileEncoder on whole files as courier-pack reads
// them: each file streamed from disk through the read call, its records
// summed and thrown away.
//
//   pack_bench [-j N] [--greedy] [--runs N] FILE_OR_DIR...
// Prints, for each run, the seconds, MB/s of input (10^6 bytes), the stored
// size and a CRC-32 of all records, which must not depend on -j.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "archive/carrier_integrity.h"
#include "tools/packing/file_encoder.h"

namespace {

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "pack_bench: %s\n", what.c_str());
    std::exit(1);
}

struct Input {
    std::string path;
    uint64_t size;
};

void gather(const std::string& arg, std::vector<Input>& out) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_directory(arg, error)) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(arg, error))
            if (entry.is_regular_file()) names.push_back(entry.path().string());
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) out.push_back({name, fs::file_size(name)});
    } else {
        const uint64_t size = fs::file_size(arg, error);
        if (error) die("cannot read " + arg);
        out.push_back({arg, size});
    }
}

}  // namespace

int main(int argc, char** argv) {
    unsigned threads = 0;
    int runs = 1;
    EncoderOptions options;
    std::vector<Input> inputs;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "-j" && a + 1 < argc) {
            threads = unsigned(std::atoi(argv[++a]));
        } else if (arg == "--runs" && a + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++a]));
        } else if (arg == "--greedy") {
            options = greedy_encoder_options();
        } else {
            gather(arg, inputs);
        }
    }
    if (inputs.empty()) die("usage: pack_bench [-j N] [--greedy] [--runs N] FILE_OR_DIR...");
    uint64_t total = 0;
    for (const Input& input : inputs) total += input.size;

    FileEncoder encoder(options, threads);
    for (int run = 0; run < runs; ++run) {
        uint64_t stored = 0;
        uint32_t crc = 0;
        FileEncoder::Calls calls;
        calls.open = [&](size_t i, FileEncoder::Source& source) {
            auto file = std::make_shared<std::ifstream>(inputs[i].path, std::ios::binary);
            if (!*file) die("cannot open " + inputs[i].path);
            source.size = inputs[i].size;
            source.read = [file](uint8_t* dst, size_t size) {
                file->read(reinterpret_cast<char*>(dst), std::streamsize(size));
                return size_t(file->gcount()) == size;
            };
            return true;
        };
        calls.records = [&](size_t, const uint8_t* records, size_t size, uint64_t) {
            stored += size;
            crc = crc32_update(crc, records, size);
            return true;
        };
        const auto start = std::chrono::steady_clock::now();
        if (!encoder.encode(inputs.size(), calls)) die("encoding failed");
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%zu files, %llu bytes, %u threads, %s: %.2f s, %.2f MB/s, stored %llu (%.1f%%), "
                    "records crc %08x\n",
                    inputs.size(), static_cast<unsigned long long>(total), encoder.threads(),
                    options.optimal ? "optimal" : "greedy", seconds, total / seconds / 1e6,
                    static_cast<unsigned long long>(stored), 100.0 * stored / total, crc);
    }
    return 0;
}

// Whole files into chunk records, on several threads. Each file is cut into
// segments (EncoderOptions::segment_size) that depend only on its bytes, so
// the records are the same for any number of threads, and the same as
// append_chunk_records gives.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/packing/chunk_encoder.h"

class FileEncoder {
public:
    // Fills dst[0, size) with the file's next bytes; false stops the encoding.
    using Read = std::function<bool(uint8_t* dst, size_t size)>;
    // Chunk records in order, and the number of file bytes they hold; false
    // stops the encoding.
    using Sink = std::function<bool(const uint8_t* records, size_t size, uint64_t consumed)>;

    struct Source {
        uint64_t size = 0;  // bytes `read` will be asked for, in all
        Read read;          // dropped once the file is read
    };

    // Every call is made on the thread that called encode(), in this order
    // for each file: open, begin, records..., end. Files are opened in
    // order but ahead of the output: file i + 1 may be opened and read while
    // the records of file i are still to come. Any call returning false
    // stops the encoding and makes encode() return false.
    struct Calls {
        std::function<bool(size_t file, Source& source)> open;
        std::function<bool(size_t file)> begin;  // may be empty
        std::function<bool(size_t file, const uint8_t* records, size_t size, uint64_t consumed)>
            records;
        std::function<bool(size_t file)> end;  // may be empty
    };

    // threads: 0 for one per processor; at most 64.
    explicit FileEncoder(const EncoderOptions& options, unsigned threads = 0);
    ~FileEncoder();
    FileEncoder(const FileEncoder&) = delete;
    FileEncoder& operator=(const FileEncoder&) = delete;

    unsigned threads() const { return threads_; }

    // Encodes `files` files one after another.
    bool encode(size_t files, const Calls& calls);
    // Encodes one file of `size` bytes.
    bool encode(uint64_t size, const Read& read, const Sink& sink);

private:
    struct Job;
    void work();
    void run(ChunkEncoder& encoder, Job& job);
    void submit(Job* job);
    void wait_for(const Job* job);
    void cancel();

    EncoderOptions options_;
    unsigned threads_;
    size_t most_in_flight_;       // segments read and not yet handed out
    ChunkEncoder own_encoder_;    // for a single thread
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable work_ready_, job_done_;
    std::deque<Job*> queue_;
    size_t running_ = 0;
    bool stopping_ = false;
};

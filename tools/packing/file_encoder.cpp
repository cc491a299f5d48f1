#include "tools/packing/file_encoder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned kMostThreads = 64;
// Segments read but not yet written out hold their bytes and their records
// (at most 9/8 of them, and the record lengths): this bounds them all.
constexpr uint64_t kInFlightBudget = uint64_t(256) << 20;

}  // namespace

struct FileEncoder::Job {
    size_t file = 0;
    bool first = false, last = false;  // of its file
    size_t history = 0;                // bytes before the segment in `input`: 0 or 512
    size_t length = 0;                 // of the segment
    std::vector<uint8_t> input;
    std::vector<uint8_t> records;
    bool done = false;
};

FileEncoder::FileEncoder(const EncoderOptions& options, unsigned threads)
    : options_(options), own_encoder_(options) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads_ = std::min(threads, kMostThreads);
    const uint64_t segment = std::max<uint64_t>(segment_length(options_, ~uint64_t(0)), 1);
    const uint64_t afford = std::max<uint64_t>(1, kInFlightBudget / (segment * 9 / 4));
    most_in_flight_ = threads_ == 1 ? 1 : size_t(std::min<uint64_t>(threads_ + 2, afford));
    if (threads_ > 1)
        for (unsigned t = 0; t < threads_; ++t) workers_.emplace_back([this] { work(); });
}

FileEncoder::~FileEncoder() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_ready_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void FileEncoder::run(ChunkEncoder& encoder, Job& job) {
    encoder.restart(job.history ? job.input.data() : nullptr);
    encode_segment(encoder, job.input.data() + job.history, job.input.size() - job.history,
                   job.last, job.records);
    std::vector<uint8_t>().swap(job.input);  // only the records wait for their turn
}

void FileEncoder::work() {
    ChunkEncoder encoder(options_);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        Job* job = queue_.front();
        queue_.pop_front();
        ++running_;
        lock.unlock();
        run(encoder, *job);
        lock.lock();
        --running_;
        job->done = true;
        job_done_.notify_all();
    }
}

void FileEncoder::submit(Job* job) {
    if (workers_.empty()) {
        run(own_encoder_, *job);
        job->done = true;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(job);
    }
    work_ready_.notify_one();
}

void FileEncoder::wait_for(const Job* job) {
    if (workers_.empty()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    job_done_.wait(lock, [job] { return job->done; });
}

// Takes back the jobs not yet started and waits for those that are.
void FileEncoder::cancel() {
    std::unique_lock<std::mutex> lock(mutex_);
    queue_.clear();
    job_done_.wait(lock, [this] { return running_ == 0; });
}

bool FileEncoder::encode(size_t files, const Calls& calls) {
    std::deque<std::unique_ptr<Job>> pending;  // in file order
    size_t file = 0;
    Source source;
    bool open = false;
    uint64_t offset = 0;  // in the open file
    std::vector<uint8_t> history(kRingSize);
    bool ok = true;
    for (;;) {
        // Read ahead while there is room, handing each segment out at once.
        while (ok && file < files && pending.size() < most_in_flight_) {
            if (!open) {
                source = Source();
                if (!calls.open(file, source)) {
                    ok = false;
                    break;
                }
                open = true;
                offset = 0;
            }
            auto job = std::make_unique<Job>();
            const size_t length = segment_length(options_, source.size - offset);
            job->file = file;
            job->length = length;
            job->first = offset == 0;
            job->history = job->first ? 0 : kRingSize;
            job->input.resize(job->history + length);
            if (job->history) std::memcpy(job->input.data(), history.data(), kRingSize);
            if (length > 0 && !source.read(job->input.data() + job->history, length)) {
                ok = false;
                break;
            }
            offset += length;
            job->last = offset == source.size;
            if (!job->last)  // a segment is longer than the ring
                std::memcpy(history.data(), &job->input[job->input.size() - kRingSize], kRingSize);
            if (job->last) {
                source = Source();  // closes what the reader holds
                open = false;
                ++file;
            }
            pending.push_back(std::move(job));
            submit(pending.back().get());
        }
        if (!ok || pending.empty()) break;
        // Then write out the oldest segment.
        Job& job = *pending.front();
        wait_for(&job);
        if (job.first && calls.begin && !calls.begin(job.file)) ok = false;
        if (ok && job.length > 0)
            ok = calls.records(job.file, job.records.data(), job.records.size(), job.length);
        if (ok && job.last && calls.end && !calls.end(job.file)) ok = false;
        pending.pop_front();
        if (!ok) break;
    }
    if (!ok && !workers_.empty()) cancel();
    return ok;
}

bool FileEncoder::encode(uint64_t size, const Read& read, const Sink& sink) {
    Calls calls;
    calls.open = [&](size_t, Source& source) {
        source.size = size;
        source.read = read;
        return true;
    };
    calls.records = [&](size_t, const uint8_t* records, size_t length, uint64_t consumed) {
        return sink(records, length, consumed);
    };
    return encode(1, calls);
}

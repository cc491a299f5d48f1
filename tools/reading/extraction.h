// extract's two sinks over the carrier walk: the files it writes, and the
// entries named on its command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/reading/carrier_walk.h"
#include "tools/system/output_file.h"

// Writes each entry as the launcher leaves it: entries Windows takes for
// one file make one file, the last one's name (as Windows makes it) and
// bytes. Each file is built out of sight and put in place whole, so a
// failure leaves an earlier file of its name as it was. A regular file of
// the name is replaced, as tar does; anything else there (a link, a folder,
// a FIFO, the carrier being read) is left alone, and the extraction stops.
// The folder is made for the first file: a carrier that fails before, or
// holds none of the entries named, leaves no folder behind.
//
// The last few files are held whole until a later one pushes them out or
// finish() is called: an entry that writes a held file again replaces it
// before it is ever put in place, so a carrier of a million entries of one
// name costs one file, not a million.
class ExtractSink : public WalkSink {
public:
    ExtractSink(const std::filesystem::path& folder, const std::filesystem::path& carrier);

    std::string begin_entry(const CarrierEntry& entry) override;
    std::string write(const uint8_t* data, size_t size) override;
    std::string end_entry(const CarrierEntry& entry) override;
    // Puts the held files in place, after the walk, whether or not it
    // failed: every entry read whole is written, as the launcher's run
    // leaves it. "" when all went in; else why one did not.
    std::string finish();
    size_t files() const { return files_.size(); }

private:
    // One file of the folder: every entry with one Windows key.
    struct File {
        std::string name;   // its last entry's name, as the folder has it
        bool placed = false;  // this run has put a file of `name` in place
        std::unique_ptr<OutputFile> held;  // its last entry, whole, not yet in place
    };

    void unhold(File& file);        // takes it off held_
    std::string place(File& file);  // puts its held file in place
    std::string shown(const std::string& name) const;
    std::string trouble() const;

    std::filesystem::path folder_;
    std::filesystem::path carrier_;
    std::string shown_;  // the entry's file as messages show it
    std::unordered_map<std::string, File> files_;  // by Windows' key
    std::vector<File*> held_;  // those holding a file, the latest used last
    File* file_ = nullptr;   // the entry's
    std::string name_;       // the entry's name, as the folder will have it
    std::unique_ptr<OutputFile> out_;  // the entry's, discarded unless whole
};

// extract NAME...: only the files named reach the writer, each as the
// launcher leaves it: every entry Windows writes into that file (letter
// case, trailing dots and spaces aside), so the last one's bytes. The walk
// still decodes and checks the others, as the launcher would.
class ChosenEntries : public WalkSink {
public:
    ChosenEntries(WalkSink& writer, const std::vector<std::string>& names);

    std::string begin_entry(const CarrierEntry& entry) override;
    std::string write(const uint8_t* data, size_t size) override;
    std::string end_entry(const CarrierEntry& entry) override;

    uint64_t entries() const { return entries_; }
    uint64_t bytes() const { return bytes_; }
    // The names no entry had.
    std::vector<std::string> missing() const;

private:
    WalkSink& writer_;
    const std::vector<std::string>& names_;
    std::vector<std::string> keys_;  // windows_file_key of each name
    std::vector<bool> found_;
    bool chosen_ = false;
    uint64_t entries_ = 0, bytes_ = 0;
};

#include "tools/reading/extraction.h"

#include <algorithm>

#include "tools/carrier/names.h"
#include "tools/system/console.h"
#include "tools/system/text_encoding.h"

namespace fs = std::filesystem;

namespace {

// Files held whole at once: as many open files, and their buffers.
constexpr size_t kMostHeldFiles = 16;

}  // namespace

ExtractSink::ExtractSink(const fs::path& folder, const fs::path& carrier) : folder_(folder), carrier_(carrier) {}

std::string ExtractSink::shown(const std::string& name) const {
    return escaped(path_to_utf8(folder_ / "")) + printable(name);
}

std::string ExtractSink::begin_entry(const CarrierEntry& entry) {
    if (files_.empty()) {
        std::error_code ec;
        fs::create_directories(folder_, ec);
        if (ec) return escaped(path_to_utf8(folder_)) + ": " + ec.message();
    }
    name_ = trailing_trimmed(entry.name);
    file_ = &files_[windows_file_key(entry.name)];
    File& file = *file_;
    const bool renamed = !file.name.empty() && file.name != name_;
    if (renamed && file.placed) {  // this run's file, under its earlier name
        std::error_code ignored;
        fs::remove(folder_ / file.name, ignored);
        file.placed = false;
    }
    const fs::path target = folder_ / name_;
    shown_ = shown(name_);
    // A held file of no bytes has nothing to lose: it becomes this entry's,
    // and where its name stays, its checks stand.
    const bool reuse = file.held && file.held->empty();
    if (!reuse || renamed) {
        if (same_file(target, carrier_)) return shown_ + ": is the carrier being read: extract into another folder";
        const std::string why = not_replaceable(target);
        if (!why.empty()) return shown_ + ": " + why + ", left as it is";
    }
    if (reuse) {
        unhold(file);
        out_ = std::move(file.held);
        out_->retarget(target);
        return "";
    }
    // A file that has to be alone goes in place before another is begun.
    while (!held_.empty() && held_.front()->held->alone()) {
        const std::string stop = place(*held_.front());
        if (!stop.empty()) return stop;
    }
    out_ = std::make_unique<OutputFile>(target);
    return trouble();
}

std::string ExtractSink::write(const uint8_t* data, size_t size) {
    out_->write(data, size);
    return trouble();
}

std::string ExtractSink::end_entry(const CarrierEntry& entry) {
    const std::string stop = trouble();
    if (!stop.empty()) return stop;
    File& file = *file_;
    // The earlier entry's file, never put in place, is discarded.
    if (file.held) unhold(file);
    file.held = std::move(out_);
    file.name = name_;
    held_.push_back(&file);
    if (verbosity() == Verbosity::kVerbose)
        print(shown_ + " (" + count(entry.decoded_size, "byte", "bytes") + ")\n");
    if (held_.size() > kMostHeldFiles) return place(*held_.front());
    return "";
}

std::string ExtractSink::finish() {
    std::string first;
    while (!held_.empty()) {
        const std::string why = place(*held_.front());
        if (first.empty()) first = why;
    }
    return first;
}

void ExtractSink::unhold(File& file) {
    held_.erase(std::find(held_.begin(), held_.end(), &file));
}

std::string ExtractSink::place(File& file) {
    unhold(file);
    const std::unique_ptr<OutputFile> out = std::move(file.held);
    if (!out->commit()) return shown(file.name) + ": " + out->error();
    file.placed = true;
    return "";
}

std::string ExtractSink::trouble() const {
    return out_->error().empty() ? "" : shown_ + ": " + out_->error();
}

ChosenEntries::ChosenEntries(WalkSink& writer, const std::vector<std::string>& names)
    : writer_(writer), names_(names), found_(names.size(), false) {
    for (const std::string& name : names) keys_.push_back(windows_file_key(name));
}

std::string ChosenEntries::begin_entry(const CarrierEntry& entry) {
    chosen_ = names_.empty();
    const std::string key = chosen_ ? "" : windows_file_key(entry.name);
    for (size_t i = 0; i < names_.size(); ++i)
        if (keys_[i] == key) chosen_ = found_[i] = true;
    return chosen_ ? writer_.begin_entry(entry) : "";
}

std::string ChosenEntries::write(const uint8_t* data, size_t size) {
    return chosen_ ? writer_.write(data, size) : "";
}

std::string ChosenEntries::end_entry(const CarrierEntry& entry) {
    if (!chosen_) return "";
    ++entries_;
    bytes_ += entry.decoded_size;
    return writer_.end_entry(entry);
}

std::vector<std::string> ChosenEntries::missing() const {
    std::vector<std::string> names;
    for (size_t i = 0; i < names_.size(); ++i)
        if (!found_[i]) names.push_back(names_[i]);
    return names;
}

// A program's file opened once, with its headers read once: its first
// bytes, and the PE headers in them. The carrier walk and every check after
// it (the launcher's identity, the resources, the launch program's DLLs,
// the stub) share one, so none opens the file or reads its headers again.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "tools/carrier/pe_image.h"
#include "tools/system/input_file.h"

class ProgramFile {
public:
    explicit ProgramFile(const std::filesystem::path& path);

    bool is_open() const { return file_.is_open(); }
    const std::string& error() const { return file_.error(); }
    InputFile& file() { return file_; }

    // The first kPeHeaderRead bytes: fewer in a shorter file, none when
    // they cannot be read.
    const uint8_t* head() { return file_.head().data(); }
    size_t head_size() { return std::min(file_.head().size(), kPeHeaderRead); }
    // The PE32 headers read from head(), or nullptr when they are not
    // readable ones.
    const PeHeaders* headers();

private:
    InputFile file_;
    bool headers_read_ = false;
    bool headers_ok_ = false;
    PeHeaders headers_;
};

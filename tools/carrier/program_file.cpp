#include "tools/carrier/program_file.h"

ProgramFile::ProgramFile(const std::filesystem::path& path) : file_(path) {}

const PeHeaders* ProgramFile::headers() {
    if (!headers_read_ && is_open()) {
        headers_read_ = true;
        headers_ok_ = read_pe_headers(head(), head_size(), headers_).empty();
    }
    return headers_ok_ ? &headers_ : nullptr;
}

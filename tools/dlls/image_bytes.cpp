#include "tools/dlls/image_bytes.h"

#include "tools/system/input_file.h"

FileBytes::FileBytes(InputFile& file) : file_(file), size_(file.size()) {
    if (size_ == UINT64_MAX) size_ = 0;
}

size_t FileBytes::read(uint64_t offset, uint8_t* out, size_t n) {
    size_t got = 0;
    if (offset >= size_ || !file_.seek(offset) || !file_.read(out, n, &got)) return 0;
    return got;
}

#include "tools/packing/stub.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archive/carrier_integrity.h"
#include "archive/format_rules.h"
#include "tools/carrier/pe_image.h"
#include "tools/identity/launcher_identity.h"
#include "tools/identity/release_launcher.h"
#include "tools/system/console.h"
#include "tools/system/input_file.h"
#include "tools/system/text_encoding.h"

namespace fs = std::filesystem;

namespace {

// The launcher finds its integrity record where its image ends, by the same
// reading of its headers, so the stub must end there and carry no signature
// (signing comes after packing, over the whole carrier).
std::string stub_layout_problem(InputFile& file) {
    CarrierLayout layout;
    const bool read = read_carrier_layout(file.carrier(), &layout);
    if (!read)
        return "the launcher cannot read these headers (it needs a PE32 image whose headers "
               "fit in its first 1024 bytes)";
    if (layout.cert_size != 0)
        return "signed (certificate table at offset " + std::to_string(layout.cert_offset) + ", " +
               std::to_string(layout.cert_size) +
               " bytes): pack an unsigned launcher, then sign the carrier";
    if (layout.image_end != layout.file_size)
        return std::to_string(layout.file_size) + " bytes, but its image ends at offset " +
               std::to_string(layout.image_end) +
               (layout.image_end < layout.file_size
                    ? ": data after the image would hide the integrity record"
                    : ": its sections run past the end of the file");
    return "";
}

}  // namespace

bool load_stub(const std::string& option, bool any_stub, std::vector<uint8_t>& stub, fs::path& path,
               std::vector<std::string>& problems) {
    path = path_from_utf8(option);
    // No folder is searched: a launcher.exe found there could be anyone's.
    if (option.empty()) {
        const auto [bytes, size] = release_launcher();
        if (bytes == nullptr) {
            problems.push_back("no --stub given, and this courier-pack was built without the "
                               "launcher to put in front of the archive");
            return false;
        }
        stub.assign(bytes, bytes + size);
        return true;
    }
    const std::string where = path_to_utf8(path);
    std::error_code ec;
    const uint64_t size = fs::file_size(path, ec);
    if (ec) {
        problems.push_back(where + ": stub: " + ec.message());
        return false;
    }
    if (size > kLargestImageSize) {
        problems.push_back(where + ": stub of " + std::to_string(size) +
                           " bytes: the archive must start below 2 GiB");
        return false;
    }
    errno = 0;
    InputFile in(path);  // read whole, then its layout as the launcher reads it: one open
    stub.resize(size_t(size));
    if (!in.is_open() || !in.read_at(0, stub.data(), stub.size())) {
        problems.push_back(where + ": cannot read the stub: " + system_reason());
        return false;
    }
    const std::string problem = stub_problem(stub.data(), stub.size(), size);
    if (!problem.empty()) {
        problems.push_back(where + ": stub is not an i386 Windows program: " + problem);
        return false;
    }
    const std::string layout = stub_layout_problem(in);
    if (!layout.empty()) {
        problems.push_back(where + ": stub: " + layout);
        return false;
    }
    if (!any_stub && !is_launcher_image(stub.data(), stub.size())) {
        problems.push_back(where + ": stub is " + kNotALauncher + "; --any-stub packs it anyway");
        return false;
    }
    return true;
}

#include "tools/resources/installer_detection.h"

#include "tools/carrier/names.h"
#include "tools/system/text_encoding.h"

namespace {

// The words looked for, in any letter case, anywhere in the text.
const char* const kInstallerWords[] = {"setup", "install", "update", "patch"};
// The version strings Windows reads for them.
const char* const kVersionKeysRead[] = {"CompanyName", "FileDescription", "InternalName",
                                        "OriginalFilename", "ProductName"};

const char* word_in(const std::string& text) {
    const std::string lower = lower_ascii(text);
    for (const char* word : kInstallerWords)
        if (lower.find(word) != std::string::npos) return word;
    return nullptr;
}

}  // namespace

std::string installer_word(const std::string& file_name,
                           const std::vector<std::pair<std::string, std::string>>& version_strings) {
    if (const char* word = word_in(file_name))
        return "its file name '" + file_name + "' holds \"" + word + "\"";
    for (const auto& [key, value] : version_strings) {
        for (const char* read : kVersionKeysRead) {
            const char* word = lower_ascii(key) == lower_ascii(read) ? word_in(value) : nullptr;
            if (word) return "its version string " + key + " '" + value + "' holds \"" + word + "\"";
        }
    }
    return "";
}

std::string installer_detection_warning(const std::string& found) {
    return "Windows takes this carrier for an installer (" + found +
           ") and asks for administrator rights before it starts, since no manifest names an "
           "execution level; a standard user then sees a prompt, and the files go to the %TEMP% "
           "of whoever types the credentials: pack it with --execution-level asInvoker";
}

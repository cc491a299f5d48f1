// A small XML reader for manifests: checks that a document is well-formed
// (one root, matching tags, quoted and unique attributes, known entity and
// character references, comments, CDATA, processing instructions, declared
// namespace prefixes) and gives its elements. Document type declarations
// are refused: a manifest has no use for them.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct XmlElement {
    std::string local_name;  // without its prefix
    std::string ns;          // the namespace it is in, "" for none
    std::vector<std::pair<std::string, std::string>> attributes;  // as written, references resolved
    int depth = 0;           // 0 for the root

    // The value of an attribute by its name as written; nullptr if absent.
    const std::string* attribute(const std::string& name) const;
};

// "" when `text` (UTF-8) is well-formed, else "line N: what is wrong".
// `elements` gets every element in document order, or, given `wanted`,
// those whose local name it is (and the root): a 64 MiB document of
// attributes need not be held whole to find one element.
std::string read_xml(const std::string& text, std::vector<XmlElement>& elements,
                     const char* wanted = nullptr);

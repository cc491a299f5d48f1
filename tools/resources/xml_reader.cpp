#include "tools/resources/xml_reader.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "tools/system/text_encoding.h"

namespace {

// Far beyond any manifest; they keep a hostile document's cost linear.
constexpr size_t kDeepest = 256, kMostAttributes = 256;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool name_start(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}
bool name_char(unsigned char c) {
    return name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool xml_char(uint32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code < 0xD800) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

using Attributes = std::vector<std::pair<std::string, std::string>>;

class Reader {
public:
    Reader(const std::string& text, std::vector<XmlElement>& elements, const char* wanted)
        : t_(text), elements_(elements), wanted_(wanted) {}

    std::string run() { return document() ? "" : problem_; }

private:
    struct Open {
        std::string name;
        Attributes prefixes;  // namespace prefixes it declares ("" for the default)
    };

    bool document() {
        elements_.clear();
        if (t_.compare(0, 3, "\xEF\xBB\xBF") == 0) i_ = 3;  // UTF-8 byte order mark
        if (t_.compare(i_, 5, "<?xml") == 0 && i_ + 5 < t_.size() && is_space(t_[i_ + 5]) &&
            !declaration())
            return false;
        if (!misc()) return false;
        if (i_ >= t_.size()) return fail("no root element");
        if (t_[i_] != '<') return fail("text before the root element");
        if (!start_tag()) return false;
        while (!open_.empty())
            if (!content()) return false;
        if (!misc()) return false;
        if (i_ < t_.size()) return fail("more after the root element ends");
        return true;
    }

    bool fail(const std::string& what) {
        int line = 1;
        for (size_t k = 0; k < i_ && k < t_.size(); ++k) line += t_[k] == '\n';
        problem_ = "line " + std::to_string(line) + ": " + what;
        return false;
    }

    bool starts(const char* s) const { return t_.compare(i_, std::strlen(s), s) == 0; }

    bool skip_space() {
        const size_t from = i_;
        while (i_ < t_.size() && is_space(t_[i_])) ++i_;
        return i_ > from;
    }

    // Characters XML allows: no control characters but tab and line ends.
    bool plain_char() {
        const unsigned char c = static_cast<unsigned char>(t_[i_]);
        if (c < 0x20 && !is_space(char(c))) return fail("control character " + std::to_string(c));
        ++i_;
        return true;
    }

    bool read_name(std::string& name) {
        if (i_ >= t_.size() || !name_start(static_cast<unsigned char>(t_[i_])))
            return fail("a name was expected");
        const size_t from = i_;
        while (i_ < t_.size() && name_char(static_cast<unsigned char>(t_[i_]))) ++i_;
        name = t_.substr(from, i_ - from);
        return true;
    }

    // Runs to `end`, checking characters on the way; fails with `what`.
    bool skip_past(const char* end, const char* what) {
        while (i_ < t_.size() && !starts(end))
            if (!plain_char()) return false;
        if (i_ >= t_.size()) return fail(what);
        i_ += std::strlen(end);
        return true;
    }

    // &name; or &#N; or &#xN; at i_, appended to `out` resolved.
    bool reference(std::string& out) {
        const size_t semicolon = t_.find(';', i_);
        if (semicolon == std::string::npos || semicolon - i_ > 12)
            return fail("'&' that starts no reference (write &amp;)");
        const std::string body = t_.substr(i_ + 1, semicolon - i_ - 1);
        static const char* const kNamed[][2] = {
            {"lt", "<"}, {"gt", ">"}, {"amp", "&"}, {"quot", "\""}, {"apos", "'"}};
        bool known = false;
        for (const auto& named : kNamed)
            if (body == named[0]) out += named[1], known = true;
        if (!known) {
            const bool hex = body.size() > 2 && body[0] == '#' && body[1] == 'x';
            const size_t digits = hex ? 2 : 1;
            uint32_t code = 0;
            bool valid = body.size() > digits && body[0] == '#';
            for (size_t k = digits; valid && k < body.size(); ++k) {
                const char c = body[k];
                const int value = c >= '0' && c <= '9' ? c - '0'
                                  : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
                valid = value >= 0 && code <= 0x10FFFF;
                code = code * (hex ? 16 : 10) + uint32_t(value);
            }
            if (!valid || !xml_char(code)) return fail("unknown reference '&" + body + ";'");
            append_utf8(out, code);
        }
        i_ = semicolon + 1;
        return true;
    }

    // name="value" pairs up to '>' or '/>' (or '?>' in the declaration).
    bool attributes(Attributes& list) {
        std::unordered_set<std::string> seen;
        for (;;) {
            const bool spaced = skip_space();
            if (i_ >= t_.size()) return fail("tag is not closed");
            if (t_[i_] == '>' || t_[i_] == '/' || t_[i_] == '?') return true;
            if (!spaced) return fail("attributes need a space between them");
            std::string name, value;
            if (!read_name(name)) return false;
            skip_space();
            if (i_ >= t_.size() || t_[i_] != '=') return fail("attribute '" + name + "' has no value");
            ++i_;
            skip_space();
            if (i_ >= t_.size() || (t_[i_] != '"' && t_[i_] != '\''))
                return fail("attribute '" + name + "': value must be in quotes");
            const char quote = t_[i_++];
            while (i_ < t_.size() && t_[i_] != quote) {
                if (t_[i_] == '<') return fail("'<' in the value of attribute '" + name + "'");
                if (t_[i_] == '&') {
                    if (!reference(value)) return false;
                    continue;
                }
                const size_t from = i_;
                if (!plain_char()) return false;
                value.append(t_, from, i_ - from);
            }
            if (i_ >= t_.size()) return fail("attribute '" + name + "': value is not closed");
            ++i_;
            if (!seen.insert(name).second) return fail("attribute '" + name + "' given twice");
            if (list.size() == kMostAttributes) return fail("more than 256 attributes");
            list.push_back({name, std::move(value)});
        }
    }

    bool declaration() {
        i_ += 5;
        Attributes list;
        if (!attributes(list)) return false;
        if (!starts("?>")) return fail("XML declaration is not closed with '?>'");
        i_ += 2;
        if (list.empty() || list[0].first != "version")
            return fail("XML declaration must start with its version");
        for (const auto& [name, value] : list) {
            if (name == "encoding" && lower_ascii(value) != "utf-8")
                return fail("encoding '" + value + "': a manifest here must be UTF-8");
            if (name != "version" && name != "encoding" && name != "standalone")
                return fail("XML declaration has an unknown item '" + name + "'");
        }
        return true;
    }

    bool comment() {
        i_ += 4;
        while (i_ < t_.size() && !starts("--"))
            if (!plain_char()) return false;
        if (i_ >= t_.size()) return fail("comment is not closed");
        if (!starts("-->")) return fail("'--' inside a comment");
        i_ += 3;
        return true;
    }

    bool instruction() {
        i_ += 2;
        std::string target;
        if (!read_name(target)) return false;
        if (lower_ascii(target) == "xml") return fail("XML declaration anywhere but at the start");
        return skip_past("?>", "processing instruction is not closed");
    }

    // Whitespace, comments and processing instructions around the root.
    bool misc() {
        for (;;) {
            skip_space();
            if (starts("<!--")) {
                if (!comment()) return false;
            } else if (starts("<?")) {
                if (!instruction()) return false;
            } else if (starts("<!DOCTYPE")) {
                return fail("document type declarations are not allowed in a manifest");
            } else {
                return true;
            }
        }
    }

    // The namespace a prefix stands for in the open elements; false if none.
    // Each prefix keeps its own stack of bindings, so a lookup costs the
    // same however many are in scope.
    bool lookup(const std::string& prefix, std::string& ns) const {
        if (prefix == "xml") {
            ns = "http://www.w3.org/XML/1998/namespace";
            return true;
        }
        const auto bound = bindings_.find(prefix);
        if (bound != bindings_.end() && !bound->second.empty()) {
            ns = bound->second.back();
            return true;
        }
        ns.clear();
        return prefix.empty();  // no default namespace: none
    }

    void bind(const Open& open) {
        for (const auto& [prefix, uri] : open.prefixes) bindings_[prefix].push_back(uri);
    }

    void close_element() {
        for (const auto& declared : open_.back().prefixes) bindings_[declared.first].pop_back();
        open_.pop_back();
    }

    bool start_tag() {
        if (open_.size() == kDeepest) return fail("elements nested more than 256 deep");
        ++i_;
        Open open;
        XmlElement element;
        if (!read_name(open.name) || !attributes(element.attributes)) return false;
        for (const auto& [name, value] : element.attributes) {
            if (name == "xmlns") {
                open.prefixes.push_back({"", value});
            } else if (name.compare(0, 6, "xmlns:") == 0) {
                if (value.empty()) return fail("namespace prefix '" + name.substr(6) + "' bound to nothing");
                open.prefixes.push_back({name.substr(6), value});
            }
        }
        const bool empty = starts("/>");
        if (!empty && !starts(">")) return fail("'<" + open.name + "' is not closed with '>'");
        i_ += empty ? 2 : 1;
        open_.push_back(std::move(open));
        bind(open_.back());
        const std::string& tag = open_.back().name;
        const size_t colon = tag.find(':');
        const std::string prefix = colon == std::string::npos ? "" : tag.substr(0, colon);
        if (!lookup(prefix, element.ns)) return fail("namespace prefix '" + prefix + "' is not declared");
        for (const auto& attribute : element.attributes) {
            const size_t at = attribute.first.find(':');
            std::string ignored;
            if (at != std::string::npos && attribute.first.compare(0, 6, "xmlns:") != 0 &&
                !lookup(attribute.first.substr(0, at), ignored))
                return fail("namespace prefix '" + attribute.first.substr(0, at) + "' is not declared");
        }
        element.local_name = colon == std::string::npos ? tag : tag.substr(colon + 1);
        element.depth = int(open_.size()) - 1;
        if (!wanted_ || element.depth == 0 || element.local_name == wanted_)
            elements_.push_back(std::move(element));
        if (empty) close_element();
        return true;
    }

    bool end_tag() {
        i_ += 2;
        std::string name;
        if (!read_name(name)) return false;
        skip_space();
        if (!starts(">")) return fail("'</" + name + "' is not closed with '>'");
        if (name != open_.back().name)
            return fail("</" + name + "> closes <" + open_.back().name + ">");
        ++i_;
        close_element();
        return true;
    }

    // One piece of an open element's content.
    bool content() {
        if (i_ >= t_.size()) return fail("<" + open_.back().name + "> is not closed");
        if (starts("</")) return end_tag();
        if (starts("<!--")) return comment();
        if (starts("<![CDATA[")) {
            i_ += 9;
            return skip_past("]]>", "CDATA section is not closed");
        }
        if (starts("<?")) return instruction();
        if (starts("<!")) return fail("unexpected '<!' in content");
        if (starts("<")) return start_tag();
        if (starts("]]>")) return fail("']]>' in text");
        if (t_[i_] == '&') {
            std::string ignored;
            return reference(ignored);
        }
        return plain_char();
    }

    const std::string& t_;
    std::vector<XmlElement>& elements_;
    const char* wanted_;  // the one local name kept, nullptr for all
    size_t i_ = 0;
    std::vector<Open> open_;
    std::unordered_map<std::string, std::vector<std::string>> bindings_;  // prefix: its namespaces, innermost last
    std::string problem_;
};

}  // namespace

const std::string* XmlElement::attribute(const std::string& name) const {
    for (const auto& a : attributes)
        if (a.first == name) return &a.second;
    return nullptr;
}

std::string read_xml(const std::string& text, std::vector<XmlElement>& elements,
                     const char* wanted) {
    return Reader(text, elements, wanted).run();
}

#include "tools/resources/manifest.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <vector>

#include "tools/system/text_encoding.h"
#include "tools/resources/xml_reader.h"

namespace {

const char kAssemblyNamespace[] = "urn:schemas-microsoft-com:asm.v1";

// Windows Vista, 7, 8, 8.1, and 10 and 11 (one identifier for both).
const char* const kSupportedOs[] = {
    "e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
    "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
    "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"};

const XmlElement* find_level(const std::vector<XmlElement>& elements, std::string& problem) {
    const XmlElement* found = nullptr;
    for (const XmlElement& element : elements) {
        if (element.local_name != "requestedExecutionLevel") continue;
        if (found) {
            problem = "more than one requestedExecutionLevel";
            return nullptr;
        }
        found = &element;
    }
    return found;
}

// Where each element a launcher's manifest may hold sits, by local names
// from the root.
const char* const kLauncherElements[] = {
    "assembly",
    "assembly/assemblyIdentity",
    "assembly/description",
    "assembly/trustInfo",
    "assembly/trustInfo/security",
    "assembly/trustInfo/security/requestedPrivileges",
    "assembly/trustInfo/security/requestedPrivileges/requestedExecutionLevel",
    "assembly/compatibility",
    "assembly/compatibility/application",
    "assembly/compatibility/application/supportedOS",
    "assembly/dependency",
    "assembly/dependency/dependentAssembly",
    "assembly/dependency/dependentAssembly/assemblyIdentity",
};

bool same_text_ignoring_case(const std::string* a, const char* b) {
    if (!a || a->size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a->size(); ++i)
        if (std::tolower(static_cast<unsigned char>((*a)[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The Common Controls 6 of the system's side-by-side store, signed by
// Microsoft: without that key it is a private assembly, looked for in the
// carrier's folder.
bool is_common_controls_6(const XmlElement& identity) {
    const std::string* architecture = identity.attribute("processorArchitecture");
    const std::string* language = identity.attribute("language");
    const std::string* type = identity.attribute("type");
    return same_text_ignoring_case(identity.attribute("name"), "Microsoft.Windows.Common-Controls") &&
           same_text_ignoring_case(identity.attribute("version"), "6.0.0.0") &&
           same_text_ignoring_case(identity.attribute("publicKeyToken"), "6595b64144ccf1df") &&
           (!type || same_text_ignoring_case(type, "win32")) &&
           (!architecture || same_text_ignoring_case(architecture, "x86") ||
            same_text_ignoring_case(architecture, "*")) &&
           (!language || *language == "*");
}

}  // namespace

std::string launcher_manifest_problem(const std::string& text) {
    std::vector<XmlElement> elements;
    if (!read_xml(text, elements).empty()) return "";  // manifest_problem says why
    std::vector<std::string> path;
    int dependencies = 0;
    for (const XmlElement& element : elements) {
        path.resize(size_t(element.depth));
        path.push_back(element.local_name);
        std::string where;
        for (const std::string& name : path) where += (where.empty() ? "" : "/") + name;
        const auto allowed = std::find(std::begin(kLauncherElements), std::end(kLauncherElements), where);
        if (element.local_name == "file")
            return "a <file> element: Windows would load a DLL of that name from the carrier's folder";
        if (allowed == std::end(kLauncherElements))
            return "<" + element.local_name + "> (in " + where +
                   "): it would change how the launcher runs";
        if (where == "assembly/dependency/dependentAssembly/assemblyIdentity" &&
            (++dependencies > 1 || !is_common_controls_6(element))) {
            const std::string* name = element.attribute("name");
            return "a dependency on " + (name ? "'" + *name + "'" : std::string("an assembly")) +
                   ": the launcher may depend on the system's Common Controls 6 only";
        }
        const std::string* ui = element.attribute("uiAccess");
        if (element.local_name == "requestedExecutionLevel" && ui && *ui == "true")
            return "uiAccess=\"true\": it would change how the launcher runs";
    }
    return "";
}

std::string execution_level_manifest(const std::string& level) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
        "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
        "    <security>\r\n"
        "      <requestedPrivileges>\r\n"
        "        <requestedExecutionLevel level=\"" + level + "\" uiAccess=\"false\"/>\r\n"
        "      </requestedPrivileges>\r\n"
        "    </security>\r\n"
        "  </trustInfo>\r\n"
        "  <compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">\r\n"
        "    <application>\r\n";
    for (const char* id : kSupportedOs)
        text += std::string("      <supportedOS Id=\"{") + id + "}\"/>\r\n";
    text += "    </application>\r\n"
            "  </compatibility>\r\n"
            "</assembly>\r\n";
    return text;
}

std::string manifest_problem(const std::string& text) {
    std::string ignored;
    return check_manifest(text, ignored);
}

std::string check_manifest(const std::string& text, std::string& execution_level) {
    execution_level.clear();
    if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0)
        return "UTF-16 text: save the manifest as UTF-8";
    if (!is_utf8(text)) return "not UTF-8 text";
    std::vector<XmlElement> elements;
    const std::string xml = read_xml(text, elements, "requestedExecutionLevel");
    if (!xml.empty()) return "not well-formed XML: " + xml;
    const XmlElement& root = elements.front();
    if (root.local_name != "assembly" || root.ns != kAssemblyNamespace)
        return std::string("the root element must be <assembly> in namespace ") + kAssemblyNamespace;
    const std::string* version = root.attribute("manifestVersion");
    if (!version || *version != "1.0") return "<assembly> needs manifestVersion=\"1.0\"";
    std::string problem;
    const XmlElement* level = find_level(elements, problem);
    if (!problem.empty()) return problem;
    if (level) {
        const std::string* value = level->attribute("level");
        if (!value || (*value != "asInvoker" && *value != "highestAvailable" &&
                       *value != "requireAdministrator"))
            return "requestedExecutionLevel level must be asInvoker, highestAvailable or "
                   "requireAdministrator";
        const std::string* ui = level->attribute("uiAccess");
        if (ui && *ui != "true" && *ui != "false")
            return "requestedExecutionLevel uiAccess must be true or false";
        execution_level = *value;
    }
    return "";
}

std::string manifest_dll_redirects(const std::string& text, std::vector<std::string>& files,
                                   std::vector<std::string>& assemblies) {
    files.clear();
    assemblies.clear();
    std::string ignored;
    const std::string problem = check_manifest(text, ignored);
    if (!problem.empty()) return problem;
    std::vector<XmlElement> elements;
    read_xml(text, elements);
    std::vector<std::string> path;  // the open elements' names, the root's first
    for (const XmlElement& element : elements) {
        path.resize(size_t(element.depth));
        path.push_back(element.local_name);
        const std::string* name = element.attribute("name");
        if (!name || element.ns != kAssemblyNamespace) continue;
        if (path == std::vector<std::string>{"assembly", "file"}) files.push_back(*name);
        if (path == std::vector<std::string>{"assembly", "dependency", "dependentAssembly", "assemblyIdentity"})
            assemblies.push_back(*name);
    }
    return "";
}

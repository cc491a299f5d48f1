#include "tools/report/json_report.h"

#include <nlohmann/json.hpp>

#include <cstdio>

#include "archive/format_rules.h"
#include "tools/carrier/names.h"

using Json = nlohmann::ordered_json;

namespace {

// Archived names are bytes in the user's ANSI code page, which JSON cannot
// hold as they are: "name" is the printable form (\xNN for other bytes) and
// "name_hex" the bytes themselves, given exactly when the two differ.
void put_name(Json& object, const std::string& name) {
    const std::string shown = printable(name);
    object["name"] = shown;
    if (shown == name) return;
    std::string hex;
    for (unsigned char c : name) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", c);
        hex += pair;
    }
    object["name_hex"] = hex;
}

Json finding(const WalkFinding& found) {
    Json object;
    object["message"] = found.text();
    object["where"] = found.where.empty() ? Json() : Json(found.where);
    object["entry"] = found.entry ? Json(found.entry) : Json();
    if (found.named) put_name(object, found.name);
    object["offset"] = found.has_offset ? Json(found.offset) : Json();
    object["reason"] = found.reason;
    return object;
}

const char* integrity_state(Integrity integrity) {
    switch (integrity) {
    case Integrity::kNoRecord: return "none";
    case Integrity::kIntact: return "intact";
    case Integrity::kTruncated: return "truncated";
    case Integrity::kDamaged: return "damaged";
    }
    return "";
}

const char* launcher_kind(LauncherKind kind) {
    switch (kind) {
    case LauncherKind::kRelease: return "release";
    case LauncherKind::kModified: return "modified";
    case LauncherKind::kOther: return "other";
    case LauncherKind::kUnknown: return "unknown";
    }
    return "";
}

Json launcher_json(const LauncherIdentity& launcher) {
    if (!launcher.read) return Json();
    Json object;
    object["kind"] = launcher_kind(launcher.kind);
    const bool release = launcher.kind == LauncherKind::kRelease;
    object["version"] = release ? Json(COURIER_PACK_VERSION) : Json();
    object["modified"] = launcher.kind == LauncherKind::kUnknown ? Json() : Json(!release);
    object["differences"] = Json::array();
    for (const LauncherDifference& d : launcher.differences)
        object["differences"].push_back(
            {{"part", d.part}, {"where", d.where}, {"offset", d.offset}, {"bytes", d.bytes}});
    return object;
}

// verify: where each DLL the launch program loads comes from (null when the
// launch file is no program, or was not read), and what decided it.
void put_launch_dlls(Json& launch, const LaunchDlls& dlls) {
    launch["dll_exposure"] = Json();
    launch["dll_search"] = Json();
    if (!dlls.read) return;
    launch["dll_exposure"] = Json::array();
    for (const DllVerdict& dll : dlls.dlls) {
        Json object;
        put_name(object, dll.name);
        object["from"] = dll_source_name(dll.from);
        object["delay_loaded"] = dll.delayed;
        launch["dll_exposure"].push_back(object);
    }
    Json search;
    search["dependent_load_flags"] = dlls.has_load_flags ? Json(dlls.dependent_load_flags) : Json();
    search["manifest_files"] = Json::array();
    for (const std::string& file : dlls.manifest_files) search["manifest_files"].push_back(printable(file));
    search["manifest_assemblies"] = Json::array();
    for (const std::string& name : dlls.manifest_assemblies)
        search["manifest_assemblies"].push_back(printable(name));
    search["problems"] = dlls.problems;
    launch["dll_search"] = search;
}

Json resource_json(const ResourceReport& report) {
    if (!report.any) return Json();
    Json object;
    object["icon"] = Json::array();
    for (const IconReport& icon : report.icon)
        object["icon"].push_back({{"width", icon.width}, {"height", icon.height},
                                  {"bit_count", icon.bit_count}, {"bytes", icon.bytes},
                                  {"png", icon.png}});
    object["icon_groups"] = report.icon_groups;
    Json version;
    if (report.has_version) {
        version["file"] = report.version.file.text();
        version["product"] = report.version.product.text();
        version["strings"] = Json::object();
        // Windows finds a key's first string; so does this.
        for (const auto& [key, value] : report.version.strings)
            if (!version["strings"].contains(key)) version["strings"][key] = value;
    }
    object["version"] = version;
    Json manifest;
    if (report.has_manifest) {
        manifest["execution_level"] =
            report.execution_level.empty() ? Json() : Json(report.execution_level);
        manifest["problem"] =
            report.manifest_problem.empty() ? Json() : Json(report.manifest_problem);
    }
    object["manifest"] = manifest;
    object["problems"] = report.problems;
    return object;
}

}  // namespace

std::string json_report(const std::string& command, const std::string& carrier,
                        const WalkResult& walk, bool ok, const WalkFinding& failure) {
    Json document;
    document["format_version"] = kJsonFormatVersion;
    document["command"] = command;
    document["carrier"] = carrier;
    document["ok"] = ok;
    document["failure"] = ok ? Json() : finding(failure);

    Json integrity;
    integrity["state"] = integrity_state(walk.carrier.integrity);
    if (walk.carrier.record.carrier_length != 0) {
        integrity["carrier_length"] = walk.carrier.record.carrier_length;
        integrity["archive_offset"] = walk.carrier.record.archive_offset;
        integrity["archive_length"] = walk.carrier.record.archive_length;
        integrity["archive_crc32"] = walk.carrier.record.archive_crc;
    }
    document["integrity"] = integrity;
    document["signature"] =
        walk.carrier.cert_size ? Json{{"offset", walk.carrier.cert_offset}, {"size", walk.carrier.cert_size}} : Json();
    document["launcher"] = launcher_json(walk.carrier.launcher);
    document["archive_offset"] = walk.carrier.launch_read ? Json(walk.carrier.archive_start) : Json();

    Json launch;
    if (walk.carrier.launch_read) {
        put_name(launch, walk.carrier.launch_name);
        launch["opens"] = walk.ok ? Json(walk.carrier.launch_opens) : Json();
        put_launch_dlls(launch, walk.carrier.launch_dlls);
    }
    document["launch"] = launch;
    document["entries"] = Json::array();
    for (const CarrierEntry& entry : walk.carrier.entries) {
        Json object;
        put_name(object, entry.name);
        object["offset"] = entry.offset;
        object["stored"] = entry.stored_size;
        object["decoded"] = entry.decoded_size;
        document["entries"].push_back(object);
    }
    document["total"] = {{"entries", walk.carrier.entry_count()},
                         {"stored", walk.carrier.stored_total()},
                         {"decoded", walk.carrier.decoded_total()},
                         {"pauses_ms", run_pauses_ms(walk.carrier.entry_count())}};
    document["warnings"] = Json::array();
    for (const WalkWarning& warning : walk.warnings) {
        Json object = {{"kind", doubt_kind(warning.doubt)}};
        object.update(finding(warning));
        object["message"] = warning.line();
        object["count"] = warning.count;
        document["warnings"].push_back(object);
    }
    document["warnings_not_listed"] = Json::object();
    for (const auto& [doubt, count] : walk.unlisted_warnings)
        document["warnings_not_listed"][doubt_kind(doubt)] = count;
    document["resources"] = resource_json(walk.carrier.resources);
    // Paths from a Linux command line may not be UTF-8: such bytes become
    // U+FFFD rather than an invalid document.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

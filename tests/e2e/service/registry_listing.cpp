#include "tests/e2e/service/registry_listing.h"

#include <sstream>

#include "tests/e2e/service/program_run.h"

namespace krvn_e2e {

namespace {

constexpr char kSeparator[] = "    ";

std::string WithoutCarriageReturn(std::string line) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

// "    name    TYPE    data": the fields are four blanks apart.
bool ParseValue(const std::string& line, std::string& name, RegistryValue& value) {
    const size_t nameEnd = line.find(kSeparator, 4);
    if (nameEnd == std::string::npos) {
        return false;
    }
    name = line.substr(4, nameEnd - 4);
    const size_t typeStart = nameEnd + 4;
    const size_t typeEnd = line.find(kSeparator, typeStart);
    value.type = line.substr(typeStart, typeEnd == std::string::npos ? std::string::npos
                                                                     : typeEnd - typeStart);
    value.data = typeEnd == std::string::npos ? std::string() : line.substr(typeEnd + 4);
    return true;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

} // namespace

RegistryListing QueryRegistry(const std::string& key) {
    const std::wstring command =
        L"reg.exe query \"" + std::wstring(key.begin(), key.end()) + L"\" /s";
    const ProgramResult run = RunProgram(command);
    RegistryListing listing;
    if (!run.finished || run.exitCode != 0) {
        return listing;
    }
    std::istringstream lines(run.output);
    std::string line;
    RegistryValues* current = nullptr;
    while (std::getline(lines, line)) {
        line = WithoutCarriageReturn(line);
        if (line.empty()) {
            continue;
        }
        if (line.compare(0, 4, kSeparator) != 0) {
            current = &listing[line];
            continue;
        }
        std::string name;
        RegistryValue value;
        if (current && ParseValue(line, name, value)) {
            (*current)[name] = value;
        }
    }
    return listing;
}

std::map<std::string, RegistryValues> Relative(const RegistryListing& listing,
                                               const std::string& key) {
    std::map<std::string, RegistryValues> relative;
    const std::string root = Upper(key);
    for (const auto& [path, values] : listing) {
        const std::string upper = Upper(path);
        if (upper == root) {
            relative[""] = values;
        } else if (upper.compare(0, root.size() + 1, root + "\\") == 0) {
            relative[path.substr(root.size() + 1)] = values;
        }
    }
    return relative;
}

} // namespace krvn_e2e

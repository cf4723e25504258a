#pragma once
// The registry as Wine's own reg.exe shows it ("reg query KEY /s"), so the
// tests see the entries without going through the code under test.

#include <map>
#include <ostream>
#include <string>

namespace krvn_e2e {

struct RegistryValue {
    std::string type; // REG_SZ, REG_DWORD, ...
    std::string data;
};

inline bool operator==(const RegistryValue& a, const RegistryValue& b) {
    return a.type == b.type && a.data == b.data;
}

inline std::ostream& operator<<(std::ostream& out, const RegistryValue& value) {
    return out << value.type << " " << value.data;
}

// Value names as reg prints them ("(Default)" for the default value).
using RegistryValues = std::map<std::string, RegistryValue>;

// Every key below and including the queried one, by full path as reg prints
// it ("HKEY_CLASSES_ROOT\\CLSID\\{...}"); empty when the key does not exist.
using RegistryListing = std::map<std::string, RegistryValues>;

RegistryListing QueryRegistry(const std::string& key);

// Key paths relative to the queried key ("" for the key itself).
std::map<std::string, RegistryValues> Relative(const RegistryListing& listing,
                                               const std::string& key);

} // namespace krvn_e2e

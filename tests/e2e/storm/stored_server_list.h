#pragma once
// The server list as stored in "ServerConfig", read straight from the image
// bytes: header, offset table, descriptors, typed values. Written apart from
// the service's own store so that a fault shared by both sides still shows.

#include <cstdint>
#include <string>
#include <vector>

namespace krvn_e2e {

struct StoredServer {
    std::wstring address;
    std::wstring password;
    std::wstring port; // as stored: decimal text
};

// The servers of a current-format image; false (and an explanation) when the
// image is not one.
bool ReadStoredServerList(const std::vector<std::uint8_t>& image,
                          std::vector<StoredServer>& servers, std::string& error);

} // namespace krvn_e2e

// Writes the fuzzer's seed images into the folder named on the command line:
// server lists built the way the registry store builds them, in the current
// and the previous format, and one in the layout a load produces.

#include "config/typed_blob_part.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace KRVN;

namespace {

struct Server {
    const char* address;
    const char* password;
    int port;
};

WString Wide(const std::string& ascii) {
    return WString(ascii.begin(), ascii.end());
}

// A password is kept as its UTF-16LE code units.
std::vector<unsigned char> PasswordBytes(const std::string& ascii) {
    std::vector<unsigned char> bytes;
    for (const char c : ascii) {
        bytes.push_back(static_cast<unsigned char>(c));
        bytes.push_back(0);
    }
    return bytes;
}

void SetPassword(CTypedBlob& blob, std::uint32_t index, const std::string& password) {
    const std::vector<unsigned char> bytes = PasswordBytes(password);
    GetPartValue(blob, index)->SetBlob(bytes.data(), bytes.size());
}

CTypedBlob CurrentList(const std::vector<Server>& servers) {
    CTypedBlob blob;
    GetPartValue(blob, 0)->SetWString(Wide("alrm_4.2"));
    GetPartValue(blob, 1)->SetInt(static_cast<std::int32_t>(servers.size()));
    std::uint32_t part = 2;
    for (const Server& server : servers) {
        GetPartValue(blob, part)->SetWString(Wide(server.address));
        SetPassword(blob, part + 1, server.password);
        GetPartValue(blob, part + 2)->SetWString(Wide(std::to_string(server.port)));
        part += 3;
    }
    return blob;
}

CTypedBlob LegacyList(const std::vector<Server>& servers) {
    CTypedBlob blob;
    GetPartValue(blob, 0)->SetInt(static_cast<std::int32_t>(servers.size()));
    std::uint32_t part = 1;
    for (const Server& server : servers) {
        GetPartValue(blob, part)->SetWString(Wide(server.address));
        SetPassword(blob, part + 1, server.password);
        part += 2;
    }
    return blob;
}

bool Write(const std::string& folder, const char* name, CTypedBlob blob) {
    CBuffer image;
    blob.WriteTo(image);
    const std::string path = folder + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(image.Data(), 1, image.Size(), file) == image.Size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::vector<Server> three = {
        {"127.0.0.1", "secret", 7001}, {"localhost", "", 0}, {"127.0.0.2", "pass word", 65535}};
    CTypedBlob grouped;
    {
        CBuffer image;
        CurrentList(three).WriteTo(image);
        grouped.LoadFrom(image);
    }
    const bool ok = Write(folder, "empty_list.bin", CurrentList({})) &&
                    Write(folder, "one_server.bin", CurrentList({three[0]})) &&
                    Write(folder, "three_servers.bin", CurrentList(three)) &&
                    Write(folder, "three_servers_grouped.bin", grouped) &&
                    Write(folder, "legacy_two_servers.bin", LegacyList({three[0], three[1]})) &&
                    Write(folder, "new_blob.bin", CTypedBlob());
    if (!ok) {
        std::perror(folder.c_str());
        return 1;
    }
    return 0;
}

#include "tests/e2e/storm/stored_server_list.h"

namespace krvn_e2e {

namespace {

constexpr std::uint32_t kWideString = 8;
constexpr std::uint32_t kInt = 3;
constexpr std::uint32_t kBlob = 12;

class ImageReader {
public:
    explicit ImageReader(const std::vector<std::uint8_t>& image) : m_image(image) {}

    bool Word(std::uint64_t offset, std::uint32_t& value) const {
        if (offset + 4 > m_image.size()) {
            return false;
        }
        value = 0;
        for (int i = 3; i >= 0; --i) {
            value = (value << 8) | m_image[offset + i];
        }
        return true;
    }

    // Part index: its type and the bytes of its value.
    bool Value(std::uint32_t index, std::uint32_t& type, std::uint64_t& data,
               std::uint32_t& length) const {
        std::uint32_t count = 0;
        std::uint32_t descriptor = 0;
        std::uint32_t partLength = 0;
        std::uint32_t partData = 0;
        if (!Word(4, count) || index >= count || !Word(8 + 4ull * index, descriptor) ||
            !Word(descriptor, partLength) || !Word(descriptor + 4ull, partData) || partLength < 8 ||
            partData + static_cast<std::uint64_t>(partLength) > m_image.size() ||
            !Word(partData, length) || !Word(partData + 4ull, type) || length != partLength - 8) {
            return false;
        }
        data = partData + 8ull;
        return true;
    }

    bool Text(std::uint32_t index, std::uint32_t expectedType, std::wstring& text) const {
        std::uint32_t type = 0;
        std::uint64_t data = 0;
        std::uint32_t length = 0;
        if (!Value(index, type, data, length) || type != expectedType || length % 2 != 0) {
            return false;
        }
        text.clear();
        for (std::uint32_t i = 0; i < length; i += 2) {
            text.push_back(static_cast<wchar_t>(m_image[data + i] | (m_image[data + i + 1] << 8)));
        }
        return true;
    }

    bool Int(std::uint32_t index, std::uint32_t& value) const {
        std::uint32_t type = 0;
        std::uint64_t data = 0;
        std::uint32_t length = 0;
        return Value(index, type, data, length) && type == kInt && length == 4 && Word(data, value);
    }

private:
    const std::vector<std::uint8_t>& m_image;
};

} // namespace

bool ReadStoredServerList(const std::vector<std::uint8_t>& image,
                          std::vector<StoredServer>& servers, std::string& error) {
    const ImageReader reader(image);
    servers.clear();
    std::uint32_t tag = 0;
    std::uint32_t parts = 0;
    std::wstring format;
    std::uint32_t count = 0;
    if (!reader.Word(0, tag) || !reader.Word(4, parts)) {
        error = "no header";
        return false;
    }
    if (!reader.Text(0, kWideString, format) || format != L"alrm_4.2" || !reader.Int(1, count)) {
        error = "no format tag and server count";
        return false;
    }
    if (parts != 2 + 3ull * count) {
        error = "the count does not match the parts";
        return false;
    }
    for (std::uint32_t k = 0; k < count; ++k) {
        StoredServer server;
        if (!reader.Text(2 + 3 * k, kWideString, server.address) ||
            !reader.Text(3 + 3 * k, kBlob, server.password) ||
            !reader.Text(4 + 3 * k, kWideString, server.port)) {
            error = "server " + std::to_string(k) + " is unreadable";
            return false;
        }
        servers.push_back(server);
    }
    return true;
}

} // namespace krvn_e2e

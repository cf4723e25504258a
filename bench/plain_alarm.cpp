#include "bench/plain_alarm.h"

#include <algorithm>

#include "com/bstr.h"
#include "com/com_object.h"
#include "connections/qn_server.h"

namespace krvn_bench {

KRVN::com_ptr<IQNServer> MakeServer(const std::wstring& address, ULONG port) {
    const KRVN::com_ptr<IQNServer> server(KRVN::com::ComObject<QNServer>::Make());
    server->put_Address(KRVN::unique_bstr(address.c_str()).get());
    server->put_Password(KRVN::unique_bstr(L"secret").get());
    server->put_Port(port);
    return server;
}

std::wstring ServerAddress(int index) {
    return L"127.0.0." + std::to_wstring(index + 1);
}

unique_socket OpenPlain(int index, ULONG port) {
    unique_socket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<u_short>(port));
    target.sin_addr.s_addr = htonl(0x7F000001u + static_cast<u_long>(index));
    static const char kHello[] = "psw=secret";
    char reply[10] = {};
    if (!socket ||
        ::connect(socket.get(), reinterpret_cast<sockaddr*>(&target), sizeof target) != 0 ||
        ::send(socket.get(), kHello, sizeof kHello - 1, 0) != sizeof kHello - 1 ||
        ::recv(socket.get(), reply, sizeof reply, 0) < 3) {
        return unique_socket();
    }
    return socket;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace krvn_bench

#pragma once
// The campaign's schedule, drawn from its seed alone: an endless sequence of
// steps, the same for the same seed on every machine, of which a run
// executes as many as its minutes allow. The schedule keeps its own idea of
// the world it makes (which faults are active, which servers are listed,
// which clients run) from the steps it drew, never from what a run saw, so
// that no outcome can change what comes next.

#include <cstdint>
#include <vector>

#include "tests/chaos/fleet_layout.h"
#include "tests/chaos/server_mode.h"
#include "tests/chaos/split_mix.h"
#include "tests/chaos/step.h"

namespace krvn_chaos {

class Schedule {
public:
    // At most this many server faults at once (a faulty process, the RPC
    // process, the unplugged button), so most servers take most orders.
    static constexpr int kMostServerFaults = 3;
    static constexpr int kMostClients = 2;
    static constexpr int kMostUnlisted = 2;

    explicit Schedule(std::uint64_t seed);

    Step Next();

private:
    struct Fault {
        ServerMode mode = ServerMode::Normal;
        int stepsLeft = 0;
    };
    struct Client {
        int id;
        int stepsLeft;
    };

    // Counts every countdown one step down.
    void Tick();
    // A step that is due: a fault's or a client's time is up, the button
    // goes back in, a removed server is listed again.
    bool Due(Step& step);
    void Draw(Step& step);
    void DrawFault(Step& step);
    void Apply(const Step& step);

    int ServerFaults() const;
    int Unlisted() const;
    ServerMode ModeOf(int slot) const { return m_faults[TargetOf(slot)].mode; }
    // A fault target in normal mode, drawn; -1 when there is none.
    int NormalTarget(bool rpcFirst);

    SplitMix m_random;
    unsigned m_number = 0;
    Fault m_faults[kFaultTargets];
    bool m_listed[kServers];
    int m_relistIn[kServers] = {};
    bool m_plugged = true;
    int m_plugInIn = 0;
    std::vector<Client> m_clients;
    int m_nextClient = 1;
};

} // namespace krvn_chaos

#include "tests/chaos/schedule.h"

#include <algorithm>
#include <utility>

namespace krvn_chaos {

namespace {

template <typename T> T Pick(SplitMix& random, const std::vector<std::pair<T, int>>& weighted) {
    int total = 0;
    for (const auto& entry : weighted) {
        total += entry.second;
    }
    int draw = static_cast<int>(random.Below(static_cast<std::uint32_t>(total)));
    for (const auto& entry : weighted) {
        if (draw < entry.second) {
            return entry.first;
        }
        draw -= entry.second;
    }
    return weighted.back().first;
}

const std::vector<std::pair<ServerMode, int>> kTcpFaults = {
    {ServerMode::Down, 12},      {ServerMode::Silent, 5},          {ServerMode::Suspended, 5},
    {ServerMode::Slow, 12},      {ServerMode::SplitReply, 14},     {ServerMode::LateBytes, 12},
    {ServerMode::CloseIdle, 14}, {ServerMode::LateBytesClose, 14}, {ServerMode::Refuse, 10}};

const std::vector<std::pair<ServerMode, int>> kRpcFaults = {{ServerMode::Down, 30},
                                                            {ServerMode::Suspended, 15},
                                                            {ServerMode::RpcHangOpen, 15},
                                                            {ServerMode::RpcHangAlarm, 20},
                                                            {ServerMode::Refuse, 20}};

const std::vector<std::pair<IconMode, int>> kIconModes = {
    {IconMode::Record, 40}, {IconMode::Hang, 20}, {IconMode::Refresh, 20}, {IconMode::Remove, 20}};

const std::vector<std::pair<ButtonMode, int>> kButtonModes = {{ButtonMode::None, 40},
                                                              {ButtonMode::Take, 25},
                                                              {ButtonMode::Hang, 15},
                                                              {ButtonMode::Ignore, 20}};

} // namespace

Schedule::Schedule(std::uint64_t seed) : m_random(seed) {
    std::fill(std::begin(m_listed), std::end(m_listed), true);
}

Step Schedule::Next() {
    Step step;
    step.number = ++m_number;
    Tick();
    if (!Due(step)) {
        Draw(step);
    }
    step.pauseMs =
        static_cast<DWORD>(m_random.Between(0, step.kind == StepKind::Press ? 250 : 150));
    Apply(step);
    return step;
}

void Schedule::Tick() {
    const auto down = [](int& count) { count = std::max(0, count - 1); };
    for (Fault& fault : m_faults) {
        down(fault.stepsLeft);
    }
    for (int& left : m_relistIn) {
        down(left);
    }
    down(m_plugInIn);
    for (Client& client : m_clients) {
        down(client.stepsLeft);
    }
}

bool Schedule::Due(Step& step) {
    for (int target = 0; target < kFaultTargets; ++target) {
        if (m_faults[target].mode != ServerMode::Normal && m_faults[target].stepsLeft == 0) {
            step.kind = StepKind::Clear;
            step.server = target;
            return true;
        }
    }
    if (!m_plugged && m_plugInIn == 0) {
        step.kind = StepKind::PlugIn;
        return true;
    }
    for (const Client& client : m_clients) {
        if (client.stepsLeft == 0) {
            step.kind = StepKind::EndClient;
            step.client = client.id;
            step.kill = m_random.Percent(50);
            return true;
        }
    }
    for (int slot = 0; slot < kServers; ++slot) {
        if (!m_listed[slot] && m_relistIn[slot] == 0) {
            step.kind = m_random.Percent(50) ? StepKind::Add : StepKind::TryConnect;
            step.server = slot;
            return true;
        }
    }
    return false;
}

void Schedule::Draw(Step& step) {
    std::vector<std::pair<StepKind, int>> kinds = {{StepKind::Press, 50},
                                                   {StepKind::SendAlarm, 7},
                                                   {StepKind::SendAlarmToOne, 7},
                                                   {StepKind::RefreshState, 3}};
    if (Unlisted() < kMostUnlisted) {
        kinds.emplace_back(StepKind::Remove, 3);
    }
    const bool anyNormal = std::any_of(std::begin(m_faults), std::end(m_faults),
                                       [](const Fault& f) { return f.mode == ServerMode::Normal; });
    if (anyNormal && ServerFaults() < kMostServerFaults) {
        kinds.emplace_back(StepKind::Fault, 10);
    }
    if (anyNormal) {
        kinds.emplace_back(StepKind::Restart, 3);
    }
    if (static_cast<int>(m_clients.size()) < kMostClients) {
        kinds.emplace_back(StepKind::StartClient, 3);
    }
    if (m_plugged && ServerFaults() < kMostServerFaults) {
        kinds.emplace_back(StepKind::Unplug, 1);
    }
    step.kind = Pick(m_random, kinds);
    switch (step.kind) {
    case StepKind::SendAlarmToOne:
        step.server = static_cast<int>(m_random.Below(kServers));
        step.listedObject = m_listed[step.server] && m_random.Percent(50);
        break;
    case StepKind::Remove: {
        int nth =
            static_cast<int>(m_random.Below(static_cast<std::uint32_t>(kServers - Unlisted())));
        for (int slot = 0; slot < kServers; ++slot) {
            if (m_listed[slot] && nth-- == 0) {
                step.server = slot;
                break;
            }
        }
        break;
    }
    case StepKind::Fault:
        DrawFault(step);
        break;
    case StepKind::Restart:
        step.server = NormalTarget(m_random.Percent(20));
        break;
    case StepKind::StartClient:
        step.client = m_nextClient++;
        step.icon = Pick(m_random, kIconModes);
        step.button = Pick(m_random, kButtonModes);
        break;
    case StepKind::Unplug:
        m_plugInIn = m_random.Between(2, 6);
        break;
    default:
        break;
    }
}

void Schedule::DrawFault(Step& step) {
    step.server = NormalTarget(m_random.Percent(20));
    step.mode = Pick(m_random, step.server == kRpcProcess ? kRpcFaults : kTcpFaults);
    if (step.mode == ServerMode::Slow) {
        step.parameterMs = m_random.Between(500, 4000);
    }
    // Hung servers cost a whole bound per order: they stay briefly.
    m_faults[step.server].stepsLeft =
        Hangs(step.mode) ? m_random.Between(2, 5) : m_random.Between(3, 12);
}

int Schedule::NormalTarget(bool rpcFirst) {
    if (rpcFirst && m_faults[kRpcProcess].mode == ServerMode::Normal) {
        return kRpcProcess;
    }
    std::vector<int> normal;
    for (int target = 0; target < kTcpServers; ++target) {
        if (m_faults[target].mode == ServerMode::Normal) {
            normal.push_back(target);
        }
    }
    if (normal.empty()) {
        return kRpcProcess;
    }
    return normal[m_random.Below(static_cast<std::uint32_t>(normal.size()))];
}

void Schedule::Apply(const Step& step) {
    switch (step.kind) {
    case StepKind::Fault:
        m_faults[step.server].mode = step.mode;
        break;
    case StepKind::Clear:
        m_faults[step.server] = Fault();
        break;
    case StepKind::Remove:
        m_listed[step.server] = false;
        m_relistIn[step.server] = m_random.Between(2, 8);
        break;
    case StepKind::Add:
        m_listed[step.server] = true;
        break;
    case StepKind::TryConnect:
        m_listed[step.server] = TakesOrders(ModeOf(step.server));
        if (!m_listed[step.server]) {
            m_relistIn[step.server] = m_random.Between(2, 6);
        }
        break;
    case StepKind::Unplug:
        m_plugged = false;
        break;
    case StepKind::PlugIn:
        m_plugged = true;
        break;
    case StepKind::StartClient:
        m_clients.push_back({step.client, m_random.Between(4, 16)});
        break;
    case StepKind::EndClient:
        m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                       [&](const Client& c) { return c.id == step.client; }),
                        m_clients.end());
        break;
    default:
        break;
    }
}

int Schedule::ServerFaults() const {
    int faults = m_plugged ? 0 : 1;
    for (const Fault& fault : m_faults) {
        faults += fault.mode != ServerMode::Normal;
    }
    return faults;
}

int Schedule::Unlisted() const {
    return static_cast<int>(std::count(std::begin(m_listed), std::end(m_listed), false));
}

} // namespace krvn_chaos

#include "connections/configuration_gate.h"

#include <atomic>

namespace {

std::atomic<ConfigurationGate> g_gate{nullptr};

} // namespace

void SetConfigurationGate(ConfigurationGate gate) noexcept {
    g_gate = gate;
}

bool ConfigurationAllowed() {
    const ConfigurationGate gate = g_gate;
    return !gate || gate();
}

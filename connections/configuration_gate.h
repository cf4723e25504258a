#pragma once
// Whether the client whose call this thread serves may change the
// configuration and read passwords. The decision is the service's: it
// registers its gate when its manager is made, so that this library needs
// nothing from the service core. Without a gate everyone may.

using ConfigurationGate = bool (*)();

void SetConfigurationGate(ConfigurationGate gate) noexcept;

bool ConfigurationAllowed();

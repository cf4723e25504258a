#pragma once
// This test program doubles as the local server of its own out-of-process
// test: COM starts it with -Embedding.

namespace krvn_test {

// How long the server waits for its objects to be released, and how long
// the client waits for the server to end afterwards.
constexpr unsigned long kServerIdleLimitMs = 20000;

// Serves TestServer as the QNServer class until the last object is gone.
int RunLocalServer();

} // namespace krvn_test

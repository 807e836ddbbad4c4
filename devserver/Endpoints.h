#pragma once

namespace devserver {

class DevServer;

// Registers every endpoint of the store's protocol that the stand-in server
// answers. Each area adds its own endpoints here; what they keep lives in
// memory, captured by their handlers, for as long as the server does.
void installEndpoints(DevServer& server);

}  // namespace devserver

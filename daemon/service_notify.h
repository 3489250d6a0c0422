// Readiness for a service manager (systemd Type=notify).
#pragma once

namespace tavro {

struct Daemon;

// Once the daemon listens and has tried the driver: tells the service
// manager it is ready, with a status line naming the address and port, the
// driver library and the adapter count. Nothing without NOTIFY_SOCKET.
void notify_ready(Daemon& d);

}  // namespace tavro

#pragma once
// The transports of this library as the session chooses them by protocol:
// SSL over TCP, the HTTP tunnel, and the local socket in the named pipe's
// place.

#include "mysql/MySqlSession.h"

namespace da::transports {

// Constructors for the session's transport choice. Their SSL switch-over
// raises EMySqlException 2026 "SSL connection error" with what failed as
// its detail.
mysql::TTransportFactories BuiltInTransports();

}  // namespace da::transports

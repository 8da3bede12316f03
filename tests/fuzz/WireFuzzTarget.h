#pragma once
// The wire client's parsers fed with bytes a server might send: the packet
// layer, the greeting and login answers, result headers, column
// definitions, text and binary rows, multiple results, statement answers.
//
// Input layout: byte 0 chooses the path (bit 0: prepend a valid handshake,
// bit 1: ask for compression, bit 2: prepared statement, bit 3: the
// stored-procedure flag); the rest is the server's byte stream. Local files
// stay refused: a fuzz input must not make the test read this machine's files.
//
// Every run ends with one more statement, answered after whatever input is
// left. It must get its own answer or a clear error; a client that, after a
// failure leaving the stream out of step, sends anything more, takes other
// bytes for that answer, or waits for more than it, is a finding: the run
// aborts with a message on stderr.

#include <cstddef>
#include <cstdint>

// Runs one input; never throws (aborts on a finding). Answers how far it got: 1 for the login,
// 1 more for a query answered, 1 more for each row read.
int RunWireInput(const uint8_t* data, size_t size);

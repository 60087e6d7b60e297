// Diagnostics: single lines on stderr, each beginning "Error: " or
// "Warning: ". Everything either program writes there goes through say().
//
// By default a line is written as stdio writes it, waiting for stderr as
// long as it takes: the reader, which ends soon, has its own deadline for
// that. A service that runs for months must never wait: once it calls
// never_wait_for_diagnostics(), a line that stderr cannot take at once (a
// pipe nobody reads, a terminal held by flow control, a log socket under
// load) waits in a small buffer, written a piece at a time as stderr takes
// it; a line that does not fit is dropped and counted, and once the buffer
// has drained a line says how many were lost.
#pragma once

namespace dhcpident {

// Writes one line: format and its arguments, line break included.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

// From here on no line waits for stderr, whatever it is.
void never_wait_for_diagnostics();

// Writes what is pending as far as stderr takes it now; true when nothing
// is left.
bool flush_diagnostics();

// While lines are pending, the descriptor whose room to write (POLLOUT)
// should wake the caller to flush them; -1 when none are.
int diagnostics_waiting_fd();

// In a child process that shares its parent's pending lines: they are the
// parent's to write.
void forget_pending_diagnostics();

}  // namespace dhcpident

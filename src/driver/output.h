// stdout carries the report and the summary. A report that could not be
// written whole must not end in status 0: the first write failure is kept
// and turned into an error and status 1 at the end.
#pragma once

namespace dhcpident {

// Flushes stdout; keeps the reason of the first failure.
void flush_output();

// True once a write to stdout has failed, keeping its reason if it is the
// first: to be asked right after output, with errno cleared before it, so
// that errno tells why (EIO when it does not).
bool output_failed();

// At exit: flushes stdout once more. When any of its output was lost,
// writes "Error: Unable to write the report: REASON" to stderr and returns
// 1; otherwise returns status.
int checked_exit_status(int status);

}  // namespace dhcpident

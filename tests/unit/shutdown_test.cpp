#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include "reader/shutdown.h"

namespace dhcpident {
namespace {

// A termination signal that comes as the program ends is held pending from
// the last check on and never reaches the handler; it must still start the
// 1 s in which the summary is written, or a reader that takes nothing would
// hold the program for good.
TEST(ShutdownDeathTest, ASignalHeldPendingAtTheEndStartsTheDeadline) {
    EXPECT_EXIT(
        {
            install_shutdown_handlers();
            sigset_t all;
            sigfillset(&all);
            sigdelset(&all, SIGALRM);
            sigprocmask(SIG_BLOCK, &all, nullptr);
            raise(SIGTERM);
            if (!shutdown_signalled_by_exit()) _exit(2);
            sleep(3);  // as a summary held by a stuck reader would
            _exit(0);
        },
        testing::ExitedWithCode(1), "the reader did not take the whole output within 1 s");
}

}  // namespace
}  // namespace dhcpident

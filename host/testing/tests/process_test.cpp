// Waiting for a program to be ready for a signal, whatever its start-up takes.
#include <gtest/gtest.h>
#include <signal.h>

#include "testing/Process.h"

TEST(RunningProcessSignals, ReadyOnlyOnceTheProgramItselfBlocksTheSignal) {
  // The shell catches SIGINT while it waits and blocks signals for moments of its own, then hands
  // over to a program that blocks it: only the program counts, and a SIGINT then is held for it
  // instead of ending it.
  RunningProcess blocking("/bin/sh", {"-c",
                                      "sleep 0.3; exec python3 -c 'import signal, sys, time\n"
                                      "signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGINT])\n"
                                      "print(\"blocked\", flush=True)\n"
                                      "time.sleep(0.5)\n"
                                      "sys.exit(3 if signal.SIGINT in signal.sigpending() else 4)'"});
  ASSERT_TRUE(blocking.readUntilBlocking("python3", SIGINT, 20000));
  blocking.signal(SIGINT);
  EXPECT_EQ(blocking.finish(20000).status, 3);

  // A program that never blocks it: false when the time is up, and false at once when it ends.
  RunningProcess plain("/bin/sh", {"-c", "exec sleep 5"});
  EXPECT_FALSE(plain.readUntilBlocking("sleep", SIGINT, 300));
  RunningProcess quick("/bin/sh", {"-c", "exit 0"});
  EXPECT_FALSE(quick.readUntilBlocking("sh", SIGINT, 20000));
  EXPECT_EQ(quick.finish(5000).status, 0);
}

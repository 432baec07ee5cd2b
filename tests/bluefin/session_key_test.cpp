// Session keys across processes: each process draws its own, and none is
// the key an unseeded rand() would give.
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <vector>

#include "scanner_fixture.h"

extern char **environ;

namespace bluefin_test {
namespace {

TEST(SessionKey, TwoProcessesDrawDifferentUnpredictableKeys) {
  ScriptedPeer peer;
  std::vector<Key> keys;
  peer.Start(
      [&](PeerConnection &link) {
        link.AnswerEcho();
        keys.push_back(link.AcceptKey());
        EXPECT_TRUE(link.EndsWithoutMore());
      },
      2);
  for (int i = 0; i < 2; ++i) {
    std::string path = BLUEFIN_SESSION_KEY_CHILD;
    std::string address = peer.address();
    char *argv[] = {path.data(), address.data(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, path.c_str(), nullptr, nullptr, argv, environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << i;
  }
  peer.Join();

  std::srand(1);  // a process that never seeds
  Key predictable;
  for (auto &b : predictable)
    b = static_cast<std::uint8_t>(std::rand());
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_NE(keys[0], keys[1]);
  for (const Key &key : keys) {
    EXPECT_NE(key, predictable);
    EXPECT_NE(key, DefaultKey());
  }
}

}  // namespace
}  // namespace bluefin_test

#include "gui/save_target.h"

#include <gtest/gtest.h>

namespace tarnvel::gui {
namespace {

struct Case {
  const char* choice;
  const char* seed;
  const char* folder;
  const char* name;
  bool bad;
};

TEST(SaveTarget, FolderAndNameFollowTheCssRequest) {
  const Case cases[] = {
      {"NOT_FOUND", "/data/x.seed", "", "", false},
      {"SEED_PATH", "/data/x.seed", "/data", "x.seed.wfdisc", false},
      {"SEED_PATH", "C:\\data\\x.seed", "C:\\data", "x.seed.wfdisc", false},
      {"SEED_PATH", "x.seed", "", "x.seed.wfdisc", false},
      {"SEED_PATH", "/x.seed", "/", "x.seed.wfdisc", false},
      {"ERROR_PATH", "/data/x.seed", "", "", true},
      {"out.wfdisc", "/data/sub/x.seed", "/data/sub", "out.wfdisc", false},
      {"out.wfdisc", "x.seed", "", "out.wfdisc", false},
      {"/srv/css/out.wfdisc", "/data/x.seed", "/srv/css", "out.wfdisc", false},
      {"D:\\css\\out.wfdisc", "/data/x.seed", "D:\\css", "out.wfdisc", false},
      {"//host/share/o.wfdisc", "/data/x.seed", "//host/share", "o.wfdisc", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.choice) + " with " + c.seed);
    const SaveProposal proposal = ProposeWfdiscTarget(c.choice, c.seed);
    EXPECT_EQ(proposal.folder, c.folder);
    EXPECT_EQ(proposal.fileName, c.name);
    EXPECT_EQ(proposal.badRequest, c.bad);
  }
}

}  // namespace
}  // namespace tarnvel::gui

#include "gui/save_target.h"

#include <gtest/gtest.h>

namespace tarnvel::gui {
namespace {

struct Case {
  CssRequest choice;
  const char* seed;
  const char* folder;
  const char* name;
  bool bad;
};

TEST(SaveTarget, FolderAndNameFollowTheCssRequest) {
  const Case cases[] = {
      {CssNotRequested{}, "/data/x.seed", "", "", false},
      {CssBesideSeed{}, "/data/x.seed", "/data", "x.seed.wfdisc", false},
      {CssBesideSeed{}, "C:\\data\\x.seed", "C:\\data", "x.seed.wfdisc", false},
      {CssBesideSeed{}, "x.seed", "", "x.seed.wfdisc", false},
      {CssBesideSeed{}, "/x.seed", "/", "x.seed.wfdisc", false},
      {CssBadPath{}, "/data/x.seed", "", "", true},
      {CssNamedPath{"out.wfdisc"}, "/data/sub/x.seed", "/data/sub", "out.wfdisc", false},
      {CssNamedPath{"out.wfdisc"}, "x.seed", "", "out.wfdisc", false},
      {CssNamedPath{"out.wfdisc"}, "/x.seed", "/", "out.wfdisc", false},
      {CssNamedPath{""}, "C:\\data\\x.seed", "C:\\data", "", false},
      {CssNamedPath{"/srv/css/out.wfdisc"}, "/data/x.seed", "/srv/css", "out.wfdisc", false},
      {CssNamedPath{"D:\\css\\out.wfdisc"}, "/data/x.seed", "D:\\css", "out.wfdisc", false},
      {CssNamedPath{"//host/share/o.wfdisc"}, "/data/x.seed", "//host/share", "o.wfdisc", false},
      // A file named like a word the request once travelled as is a file like any other.
      {CssNamedPath{"NOT_FOUND"}, "/data/x.seed", "/data", "NOT_FOUND", false},
      {CssNamedPath{"ERROR_PATH"}, "/data/x.seed", "/data", "ERROR_PATH", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.choice.index()) + " with " + c.seed);
    const SaveProposal proposal = ProposeWfdiscTarget(c.choice, c.seed);
    EXPECT_EQ(proposal.folder, c.folder);
    EXPECT_EQ(proposal.fileName, c.name);
    EXPECT_EQ(proposal.badRequest, c.bad);
  }
}

}  // namespace
}  // namespace tarnvel::gui

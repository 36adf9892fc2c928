#include "platform/base/file_reference.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(FileReference, MapsToLinuxPath) {
  struct Case {
    std::string_view ref, path;
  };
  const Case kCases[] = {
      {"file:///srv/in/a.xml", "/srv/in/a.xml"},
      {"file://host/share/a.xml", "/net/host/share/a.xml"},
      {"file:\\\\\\srv\\in\\a.xml", "/srv/in/a.xml"},  // backslashes first become slashes
      {"file://host/share/dir/a b.xml", "/net/host/share/dir/a b.xml"},
      {"file:///", "/"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.ref);
    ASSERT_TRUE(IsFileReference(c.ref));
    EXPECT_EQ(ToLinuxPath(c.ref, "/net/"), c.path);
  }
  EXPECT_FALSE(IsFileReference("http://host/a.xml"));
  EXPECT_FALSE(IsFileReference("FILE:///a"));  // the scheme is matched exactly
  EXPECT_FALSE(IsFileReference("/srv/a.xml"));
}

}  // namespace
}  // namespace platform

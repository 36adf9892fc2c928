#include "platform/os/shell.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/base/cp1251.h"
#include "platform/base/debug_output.h"

namespace platform {
namespace {

using namespace literals;

TEST(HeadlessShell, AnswersNoToQuestionsOkToTheRestAndWritesOneLinePerBox) {
  struct Case {
    const char *title, *text;
    MessageBoxIcon icon;
    MessageBoxButtons buttons;
    MessageBoxAnswer answer;
    std::string cp1251, utf8;  // what standard error receives under either charset
  } const kCases[] = {
      {"Quilmarend", "Да?\n\nНет"_cp1251, MB_ICONQUESTION, MB_YESNO, IDNO,
       "Quilmarend: \xc4\xe0?\n\n\xcd\xe5\xf2\n",
       "Quilmarend: \xd0\x94\xd0\xb0?\n\n\xd0\x9d\xd0\xb5\xd1\x82\n"},
      {"О"_cp1251, "Cannot bind", MB_ICONERROR, MB_OK, IDOK, "\xce: Cannot bind\n",
       "\xd0\x9e: Cannot bind\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const int savedStderr = ::dup(STDERR_FILENO);
    ::dup2(ends[1], STDERR_FILENO);
    ::close(ends[1]);
    EXPECT_EQ(MakeHeadlessShell()->MessageBox(c.title, c.text, c.icon, c.buttons), c.answer);
    ::dup2(savedStderr, STDERR_FILENO);  // closes the pipe's last write end
    ::close(savedStderr);
    std::string written(256, '\0');
    written.resize(std::max<ssize_t>(::read(ends[0], written.data(), written.size()), 0));
    ::close(ends[0]);
    EXPECT_EQ(written, CodesetIsUtf8("") ? c.utf8 : c.cp1251);
  }
}

}  // namespace
}  // namespace platform

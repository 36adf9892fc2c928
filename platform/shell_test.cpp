#include "platform/shell.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/cp1251.h"
#include "platform/debug_output.h"

namespace platform {
namespace {

using namespace literals;

// BoxOnStandardError shows one headless box with standard error turned into a pipe, and returns
// the answer and what reached the pipe.
MessageBoxAnswer BoxOnStandardError(const char* title, const char* text, MessageBoxIcon icon,
                                    MessageBoxButtons buttons, std::string& written) {
  int ends[2];
  EXPECT_EQ(::pipe(ends), 0);
  const int savedStderr = ::dup(STDERR_FILENO);
  ::dup2(ends[1], STDERR_FILENO);
  ::close(ends[1]);
  const MessageBoxAnswer answer = MakeHeadlessShell()->MessageBox(title, text, icon, buttons);
  ::dup2(savedStderr, STDERR_FILENO);  // also closes the pipe's last write end
  ::close(savedStderr);
  char chunk[256];
  for (ssize_t n; (n = ::read(ends[0], chunk, sizeof chunk)) > 0;) written.append(chunk, n);
  ::close(ends[0]);
  return answer;
}

TEST(HeadlessShell, AnswersNoToQuestionsOkToTheRestAndWritesTheBoxInOneLine) {
  const bool utf8 = CodesetIsUtf8("");
  struct Case {
    const char* title;
    const char* text;
    MessageBoxIcon icon;
    MessageBoxButtons buttons;
    MessageBoxAnswer answer;
    std::string cp1251, utf8;  // what standard error receives under either charset
  };
  const Case kCases[] = {
      {"Quilmarend", "Да?\n\nНет"_cp1251, MB_ICONQUESTION, MB_YESNO, IDNO,
       "Quilmarend: \xc4\xe0?\n\n\xcd\xe5\xf2\n",
       "Quilmarend: \xd0\x94\xd0\xb0?\n\n\xd0\x9d\xd0\xb5\xd1\x82\n"},
      {"Error", "Cannot init WinSock", kNoIcon, MB_OK, IDOK, "Error: Cannot init WinSock\n",
       "Error: Cannot init WinSock\n"},
      {"О"_cp1251, "3,1", MB_ICONINFORMATION, MB_OK, IDOK, "\xce: 3,1\n", "\xd0\x9e: 3,1\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    std::string written;
    EXPECT_EQ(BoxOnStandardError(c.title, c.text, c.icon, c.buttons, written), c.answer);
    EXPECT_EQ(written, utf8 ? c.utf8 : c.cp1251);
  }
}

}  // namespace
}  // namespace platform

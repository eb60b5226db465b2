// The console's keys, off-screen buffer and screen, fed with key events and
// checked through the buffer.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console_script.h"
#include "veltro/console.h"

namespace {

using veltro::Attr;
using veltro::Key;
using veltro::KeyEvent;
using veltro::testing::ch;
using veltro::testing::key;
using veltro::testing::kMenu;
using veltro::testing::ScriptedScreen;

TEST(ConsoleKeys, DecodeAndCodes) {
  EXPECT_EQ(veltro::decodeKey(KEY_UP), key(Key::Up));
  EXPECT_EQ(veltro::decodeKey(KEY_DOWN), key(Key::Down));
  EXPECT_EQ(veltro::decodeKey(KEY_HOME), key(Key::Home));
  EXPECT_EQ(veltro::decodeKey(KEY_END), key(Key::End));
  EXPECT_EQ(veltro::decodeKey(KEY_NPAGE), key(Key::PageDown));
  EXPECT_EQ(veltro::decodeKey(KEY_BTAB), key(Key::BackTab));
  // Enter arrives as CR, LF or the keypad's Enter depending on the terminal mode.
  for (int code : {int{'\r'}, int{'\n'}, KEY_ENTER}) EXPECT_EQ(veltro::decodeKey(code), key(Key::Enter)) << code;
  for (int code : {KEY_BACKSPACE, 127, 8}) EXPECT_EQ(veltro::decodeKey(code), key(Key::Backspace)) << code;
  EXPECT_EQ(veltro::decodeKey(27), key(Key::Esc));
  EXPECT_EQ(veltro::decodeKey('7'), ch('7'));
  EXPECT_EQ(veltro::decodeKey(' '), ch(' '));
  EXPECT_EQ(veltro::decodeKey(KEY_F(1)), key(Key::None));
  EXPECT_EQ(veltro::decodeKey(200), key(Key::None));
  EXPECT_EQ(veltro::decodeKey(3), key(Key::None));

  EXPECT_EQ(veltro::keyCode(key(Key::Esc)), 27);
  EXPECT_EQ(veltro::keyCode(key(Key::Enter)), 13);
  EXPECT_EQ(veltro::keyCode(ch('a')), 'a');
  EXPECT_EQ(veltro::keyCode(key(Key::None)), 0);
  EXPECT_NE(veltro::keyCode(key(Key::Up)), veltro::keyCode(key(Key::Down)));
}

TEST(ScreenBuffer, WriteClipAndBox) {
  veltro::ScreenBuffer buf(5, 10);
  EXPECT_EQ(buf.put(1, 2, "abcdef"), 8);
  EXPECT_EQ(buf.put(1, 2, "xy"), 4);
  EXPECT_EQ(buf.rowText(1), "  xycdef  ");            // the rest of the row stays
  EXPECT_EQ(buf.cursor(), (veltro::Position{0, 0}));  // writing does not move the cursor

  EXPECT_EQ(buf.put(2, 7, "123456"), 13);  // clipped at the edge, no wrap
  EXPECT_EQ(buf.rowText(2), "       123");
  EXPECT_EQ(buf.rowText(3), "          ");
  EXPECT_EQ(buf.put(0, 0, "abcdef", Attr::Normal, 2), 2);
  EXPECT_EQ(buf.rowText(0), "ab        ");

  // One column per UTF-8 character; a stray byte of another encoding shows as '?'.
  buf.put(3, 0, "Jos\xC3\xA9|\xE9|");
  EXPECT_EQ(buf.rowText(3), "Jos\xC3\xA9|?|   ");
  EXPECT_EQ(buf.rowText(3, true), "Jos?|?|   ");

  buf.clear();
  buf.box({0, 1, 3, 5});
  EXPECT_EQ(buf.rowText(0), " ┌───┐    ");
  EXPECT_EQ(buf.rowText(1), " │   │    ");
  EXPECT_EQ(buf.rowText(3), " └───┘    ");
  EXPECT_EQ(buf.lines(true), (std::vector<std::string>{" +---+", " |   |", " |   |", " +---+"}));

  buf.put(4, 0, "last");
  buf.scrollUp();
  EXPECT_EQ(buf.rowText(3), "last      ");
  EXPECT_EQ(buf.rowText(4), "          ");
  EXPECT_EQ(buf.rowText(0), " │   │    ");

  buf.setCursor(99, -3);
  EXPECT_EQ(buf.cursor(), (veltro::Position{4, 0}));
}
TEST(Screen, PromptsAndLastKey) {
  ScriptedScreen s;
  veltro::Screen& screen = s.screen;
  screen.clear();
  screen.box(1, 1, 6, 31);
  s.type({key(Key::Down), key(Key::Down), key(Key::Up), key(Key::Enter)});
  EXPECT_EQ(screen.menu(2, 2, 5, 30, kMenu), 2);
  EXPECT_EQ(screen.lastKey(), 13);
  EXPECT_EQ(screen.buffer().rowText(3, true).substr(0, 33), " |Build Sentence               | ");

  s.type({key(Key::Esc)});
  EXPECT_EQ(screen.menu(2, 2, 5, 30, kMenu), 0);
  EXPECT_EQ(screen.lastKey(), 27);

  screen.clear();
  EXPECT_EQ(screen.cursor(), (veltro::Position{0, 0}));
  EXPECT_TRUE(screen.buffer().lines().empty());
  screen.writeAt(1, 1, "How many records?");
  EXPECT_EQ(screen.cursor(), (veltro::Position{1, 18}));
  screen.setCursor(1, screen.cursor().col + 1);
  s.type({ch('2'), ch('5'), key(Key::Enter)});
  EXPECT_EQ(screen.numberField(100), 25);
  EXPECT_EQ(screen.lastKey(), 13);
  EXPECT_EQ(screen.buffer().rowText(1).substr(0, 23), " How many records?  25 ");
  EXPECT_EQ(screen.cursor(), (veltro::Position{1, 22}));

  // Esc after typing keeps the number and reports 27.
  screen.setCursor(1, 19);
  s.type({ch('7'), key(Key::Esc)});
  EXPECT_EQ(screen.numberField(100), 100);
  EXPECT_EQ(screen.lastKey(), 27);
  EXPECT_EQ(screen.buffer().rowText(1).substr(0, 23), " How many records? 100 ");
}

TEST(Screen, WritingAndNewLine) {
  ScriptedScreen s;
  veltro::Screen& screen = s.screen;
  screen.clear();
  // A shorter text leaves the end of the previous one visible.
  screen.writeAt(2, 1, "notes='abcdef'");
  screen.writeAt(2, 1, "notes='x'");
  EXPECT_EQ(screen.buffer().lines()[2], " notes='x'cdef'");
  EXPECT_EQ(screen.cursor(), (veltro::Position{2, 10}));

  screen.writeAt(4, 1, "Opcion: Method Save");
  screen.newLine();
  EXPECT_EQ(screen.cursor(), (veltro::Position{5, 0}));
  EXPECT_EQ(screen.buffer().lines().size(), 5u);

  // A new line on the last row scrolls the screen.
  screen.writeAt(23, 0, "bottom");
  screen.newLine();
  EXPECT_EQ(screen.cursor(), (veltro::Position{23, 0}));
  EXPECT_EQ(screen.buffer().rowText(22).substr(0, 6), "bottom");
  EXPECT_EQ(screen.buffer().lines()[3], " Opcion: Method Save");
}

TEST(Screen, AlertRestoresTheScreen) {
  ScriptedScreen s;
  veltro::Screen& screen = s.screen;
  screen.clear();
  for (int row = 0; row < 24; ++row) screen.writeAt(row, 0, std::string(80, '#'));
  screen.setCursor(3, 7);
  std::vector<std::string> before = screen.buffer().lines();

  s.type({key(Key::Right), ch('q')});
  EXPECT_EQ(screen.alert("Error BASE/1004  Message not found: FOO", {"Quit", "Retry"}), 1);
  EXPECT_EQ(screen.lastKey(), 'q');
  EXPECT_EQ(screen.buffer().lines(), before);
  EXPECT_EQ(screen.cursor(), (veltro::Position{3, 7}));

  s.type({key(Key::Esc)});
  EXPECT_EQ(screen.alert("a;b", {"Quit"}), 0);
  EXPECT_EQ(screen.lastKey(), 27);

  // The screen serves the default error handling's alert.
  veltro::AlertConsole& console = screen;
  s.type({key(Key::Right), key(Key::Enter)});
  EXPECT_EQ(console.alert("x", {"Quit", "Retry", "Default"}), 2);
  EXPECT_EQ(screen.buffer().lines(), before);
}

}  // namespace

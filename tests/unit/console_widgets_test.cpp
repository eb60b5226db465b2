// The console's widgets (menu, number field, alert box), fed with key events
// and checked through the off-screen buffer.
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

TEST(ChoiceMenu, Navigation) {
  veltro::ChoiceMenu menu(kMenu, 4);
  EXPECT_EQ(menu.highlighted(), 0);
  EXPECT_FALSE(menu.handle(key(Key::Up)));  // stops at the top
  EXPECT_EQ(menu.highlighted(), 0);
  for (int i = 0; i < 5; ++i) menu.handle(key(Key::Down));
  EXPECT_EQ(menu.highlighted(), 3);  // and at the bottom
  menu.handle(key(Key::Home));
  EXPECT_EQ(menu.highlighted(), 0);
  menu.handle(key(Key::End));
  EXPECT_EQ(menu.highlighted(), 3);
  menu.handle(key(Key::PageUp));
  EXPECT_EQ(menu.highlighted(), 0);

  // A letter goes to the next item starting with it, round the end, in either case.
  menu.handle(ch('m'));
  EXPECT_EQ(menu.highlighted(), 2);
  menu.handle(ch('M'));
  EXPECT_EQ(menu.highlighted(), 0);
  menu.handle(ch('z'));
  EXPECT_EQ(menu.highlighted(), 0);
  EXPECT_FALSE(menu.done());

  // More items than rows: the list scrolls to keep the bar visible.
  veltro::ChoiceMenu longMenu({"a", "b", "c", "d", "e", "f"}, 2);
  longMenu.handle(key(Key::PageDown));
  EXPECT_EQ(longMenu.highlighted(), 2);
  EXPECT_EQ(longMenu.firstVisible(), 1);
  longMenu.handle(key(Key::End));
  EXPECT_EQ(longMenu.firstVisible(), 4);
  longMenu.handle(key(Key::Up));
  longMenu.handle(key(Key::Up));
  EXPECT_EQ(longMenu.highlighted(), 3);
  EXPECT_EQ(longMenu.firstVisible(), 3);
}

TEST(ChoiceMenu, EnterAndEsc) {
  veltro::ChoiceMenu first(kMenu, 4);
  EXPECT_TRUE(first.handle(key(Key::Enter)));
  EXPECT_EQ(first.result(), 1);  // positions count from 1

  veltro::ChoiceMenu third(kMenu, 4);
  third.handle(key(Key::Down));
  third.handle(key(Key::Down));
  EXPECT_TRUE(third.handle(key(Key::Enter)));
  EXPECT_EQ(third.result(), 3);
  third.handle(key(Key::Up));  // a finished menu ignores further keys
  EXPECT_EQ(third.result(), 3);

  veltro::ChoiceMenu cancelled(kMenu, 4);
  cancelled.handle(key(Key::Down));
  EXPECT_TRUE(cancelled.handle(key(Key::Esc)));
  EXPECT_EQ(cancelled.result(), 0);

  veltro::ChoiceMenu empty({}, 4);
  EXPECT_TRUE(empty.handle(key(Key::Enter)));
  EXPECT_EQ(empty.result(), 0);
}

TEST(ChoiceMenu, Rendering) {
  veltro::ScreenBuffer buf(24, 80);
  buf.box({1, 1, 6, 31});
  veltro::ChoiceMenu menu(kMenu, 4);
  veltro::Rect rect{2, 2, 5, 30};
  menu.render(buf, rect);
  EXPECT_EQ(buf.rowText(2, true).substr(0, 33), " |Method Update                | ");
  EXPECT_EQ(buf.rowText(5, true).substr(0, 33), " |Sentence UPDATE              | ");
  // The bar spans the rectangle's width on the highlighted row only.
  for (int col = 2; col <= 30; ++col) EXPECT_EQ(buf.attrAt(2, col), Attr::Highlight) << col;
  EXPECT_EQ(buf.attrAt(2, 1), Attr::Normal);
  EXPECT_EQ(buf.attrAt(2, 31), Attr::Normal);
  EXPECT_EQ(buf.attrAt(3, 2), Attr::Normal);

  menu.handle(key(Key::Down));
  menu.render(buf, rect);
  EXPECT_EQ(buf.attrAt(2, 2), Attr::Normal);
  EXPECT_EQ(buf.attrAt(3, 2), Attr::Highlight);

  // An item wider than the rectangle stops at its edge.
  veltro::ChoiceMenu wide({"0123456789"}, 1);
  wide.render(buf, {2, 2, 2, 6});
  EXPECT_EQ(buf.rowText(2, true).substr(0, 16), " |01234d Update ");
  // Rows below the last item are blanked.
  veltro::ChoiceMenu shortMenu({"x"}, 4);
  shortMenu.render(buf, rect);
  EXPECT_EQ(buf.rowText(3, true).substr(0, 33), " |                             | ");
}

TEST(NumberField, TypingReplacesThenOverwrites) {
  veltro::NumberField unchanged(100);
  EXPECT_EQ(unchanged.text(), "100");
  EXPECT_EQ(unchanged.cursor(), 0);
  EXPECT_TRUE(unchanged.handle(key(Key::Enter)));
  EXPECT_TRUE(unchanged.accepted());
  EXPECT_EQ(unchanged.value(), 100);

  veltro::NumberField twentyFive(100);
  twentyFive.handle(ch('2'));
  EXPECT_EQ(twentyFive.text(), "2  ");  // the first digit clears the field
  twentyFive.handle(ch('5'));
  EXPECT_EQ(twentyFive.cursor(), 2);
  EXPECT_FALSE(twentyFive.done());
  EXPECT_TRUE(twentyFive.handle(key(Key::Enter)));
  EXPECT_EQ(twentyFive.value(), 25);
  EXPECT_EQ(twentyFive.text(), " 25");  // shown again through the picture

  veltro::NumberField zero(100);
  zero.handle(ch('0'));
  zero.handle(key(Key::Enter));
  EXPECT_EQ(zero.value(), 0);

  // The third digit leaves the field, which accepts it.
  veltro::NumberField full(100);
  full.handle(ch('1'));
  full.handle(ch('2'));
  EXPECT_TRUE(full.handle(ch('3')));
  EXPECT_TRUE(full.accepted());
  EXPECT_EQ(full.value(), 123);

  // Non-digits are ignored and do not count as the first key.
  veltro::NumberField letters(100);
  for (char c : {'a', '-', ' ', '.'}) letters.handle(ch(c));
  EXPECT_EQ(letters.text(), "100");
  letters.handle(ch('7'));
  letters.handle(key(Key::Enter));
  EXPECT_EQ(letters.value(), 7);

  // Moving first edits the shown number in place.
  veltro::NumberField inPlace(100);
  inPlace.handle(key(Key::Right));
  inPlace.handle(ch('5'));
  EXPECT_EQ(inPlace.text(), "150");
  inPlace.handle(key(Key::Down));  // leaving the field accepts it too
  EXPECT_EQ(inPlace.value(), 150);
}

TEST(NumberField, EditKeysAndEsc) {
  veltro::NumberField backspace(100);
  backspace.handle(key(Key::End));
  backspace.handle(key(Key::Backspace));
  EXPECT_EQ(backspace.text(), "10 ");
  EXPECT_EQ(backspace.cursor(), 1);
  backspace.handle(key(Key::Enter));
  EXPECT_EQ(backspace.value(), 10);

  veltro::NumberField del(123);
  del.handle(key(Key::Delete));
  EXPECT_EQ(del.text(), "23 ");
  del.handle(key(Key::Delete));
  del.handle(key(Key::Delete));
  del.handle(key(Key::Enter));
  EXPECT_EQ(del.value(), 0);  // an emptied field reads as 0

  veltro::NumberField small(5);
  EXPECT_EQ(small.text(), "  5");
  small.handle(key(Key::Home));
  small.handle(ch('4'));  // blanks inside are skipped when read back
  small.handle(key(Key::Enter));
  EXPECT_EQ(small.value(), 45);

  veltro::NumberField abandoned(100);
  abandoned.handle(ch('2'));
  abandoned.handle(ch('5'));
  EXPECT_TRUE(abandoned.handle(key(Key::Esc)));
  EXPECT_TRUE(abandoned.abandoned());
  EXPECT_EQ(abandoned.value(), 100);
  EXPECT_EQ(abandoned.text(), "100");

  // A number the picture cannot hold shows as stars and survives an unedited accept.
  veltro::NumberField tooBig(1000);
  EXPECT_EQ(tooBig.text(), "***");
  tooBig.handle(key(Key::Enter));
  EXPECT_EQ(tooBig.value(), 1000);
  EXPECT_EQ(veltro::NumberField::picture(-1), "***");
  EXPECT_EQ(veltro::NumberField::picture(999), "999");
}

TEST(NumberField, Rendering) {
  veltro::ScreenBuffer buf(24, 80);
  buf.put(1, 1, "How many records?");
  veltro::NumberField field(100);
  field.render(buf, 1, 19);
  EXPECT_EQ(buf.rowText(1).substr(0, 23), " How many records? 100 ");
  EXPECT_EQ(buf.attrAt(1, 19), Attr::Field);
  EXPECT_EQ(buf.attrAt(1, 21), Attr::Field);
  EXPECT_EQ(buf.attrAt(1, 22), Attr::Normal);
  EXPECT_EQ(buf.cursor(), (veltro::Position{1, 19}));

  field.handle(ch('4'));
  field.render(buf, 1, 19);
  EXPECT_EQ(buf.rowText(1).substr(0, 23), " How many records? 4   ");
  EXPECT_EQ(buf.cursor(), (veltro::Position{1, 20}));

  field.handle(key(Key::Enter));
  field.render(buf, 1, 19);
  EXPECT_EQ(buf.rowText(1).substr(0, 23), " How many records?   4 ");
  EXPECT_EQ(buf.attrAt(1, 19), Attr::Normal);
}

TEST(AlertBox, ChoosingButtons) {
  const std::vector<std::string> choices = {"Quit", "Retry", "Default"};
  veltro::AlertBox lines("Error MYSQL/1146  Table missing ;(DOS Error 2)", choices);
  EXPECT_EQ(lines.messageLines(), (std::vector<std::string>{"Error MYSQL/1146  Table missing ", "(DOS Error 2)"}));

  veltro::AlertBox moving("m", choices);
  EXPECT_EQ(moving.highlighted(), 0);
  moving.handle(key(Key::Right));
  moving.handle(key(Key::Tab));
  EXPECT_EQ(moving.highlighted(), 2);
  moving.handle(key(Key::Tab));  // round to the first
  EXPECT_EQ(moving.highlighted(), 0);
  moving.handle(key(Key::Left));  // and back to the last
  EXPECT_EQ(moving.highlighted(), 2);
  moving.handle(key(Key::BackTab));
  EXPECT_TRUE(moving.handle(key(Key::Enter)));
  EXPECT_EQ(moving.result(), 2);

  veltro::AlertBox letter("m", choices);
  letter.handle(ch('x'));
  EXPECT_FALSE(letter.done());
  EXPECT_TRUE(letter.handle(ch('d')));
  EXPECT_EQ(letter.result(), 3);

  veltro::AlertBox esc("m", choices);
  esc.handle(key(Key::Right));
  EXPECT_TRUE(esc.handle(key(Key::Esc)));
  EXPECT_EQ(esc.result(), 0);

  veltro::AlertBox quit("m", {"Quit"});
  EXPECT_TRUE(quit.handle(key(Key::Enter)));
  EXPECT_EQ(quit.result(), 1);

  veltro::AlertBox none("m", {});
  EXPECT_EQ(none.choices(), (std::vector<std::string>{"Ok"}));
}

TEST(AlertBox, Rendering) {
  veltro::ScreenBuffer buf(24, 80);
  for (int row = 0; row < 24; ++row) buf.put(row, 0, std::string(80, '.'));
  veltro::AlertBox alert("Error TQUILLON/9001  Internal Error ;(DOS Error 5)", {"Quit", "Retry"});
  alert.render(buf);
  veltro::Rect frame = alert.frame(24, 80);
  EXPECT_EQ(frame.height(), 6);  // frame, two lines, a blank row, the buttons
  EXPECT_EQ(frame.top, 9);
  EXPECT_EQ(frame.left, (80 - frame.width()) / 2);

  std::string top = buf.rowText(frame.top);
  EXPECT_NE(top.find("┌"), std::string::npos);
  std::string first = buf.rowText(frame.top + 1);
  EXPECT_NE(first.find("│ Error TQUILLON/9001  Internal Error  │"), std::string::npos) << first;
  EXPECT_NE(buf.rowText(frame.top + 2).find("(DOS Error 5)"), std::string::npos);
  std::string buttons = buf.rowText(frame.bottom - 1);
  std::size_t quit = buttons.find(" Quit ");
  ASSERT_NE(quit, std::string::npos) << buttons;
  EXPECT_NE(buttons.find(" Retry "), std::string::npos);
  // Only the chosen button is highlighted; the box hides what was behind it.
  int quitCol = frame.left + 2 + (frame.width() - 4 - 14) / 2;
  EXPECT_EQ(buf.attrAt(frame.bottom - 1, quitCol), Attr::Highlight);
  EXPECT_EQ(buf.attrAt(frame.bottom - 1, quitCol + 8), Attr::Normal);
  EXPECT_EQ(buf.at(frame.top + 3, frame.left + 1).glyph, " ");
  EXPECT_EQ(buf.at(frame.top, frame.left - 1).glyph, ".");

  // A message wider than the screen is wrapped at blanks inside the frame.
  std::string words;
  for (int i = 0; i < 40; ++i) words += (i ? " word" : "word") + std::to_string(i);
  veltro::AlertBox wide(words, {"Quit"});
  veltro::ScreenBuffer small(24, 40);
  wide.render(small);
  veltro::Rect box = wide.frame(24, 40);
  EXPECT_GE(box.left, 1);
  EXPECT_LE(box.right, 38);
  std::string joined;
  for (int row = box.top + 1; row < box.bottom - 2; ++row) {
    std::string text = small.rowText(row, true).substr(box.left + 1, box.width() - 2);
    text.erase(0, text.find_first_not_of(' '));
    text.erase(text.find_last_not_of(' ') + 1);
    joined += (joined.empty() ? "" : " ") + text;
  }
  EXPECT_EQ(joined, words);
}

}  // namespace

// Tries the console: the menu, the record prompt and two result lines; with
// the argument "alert", an alert (shown again after Esc) whose answer is
// written afterwards; with "error", an error that nobody handles, shown by the
// default error handling on this screen.
#include <memory>
#include <string>
#include <vector>

#include "veltro/console.h"

int main(int argc, char** argv) {
  veltro::Screen& screen = veltro::screen();
  veltro::setAlertConsole(&screen);
  if (argc > 1 && std::string(argv[1]) == "error") {
    screen.clear();
    screen.writeAt(1, 1, "Before the error");
    auto error = std::make_shared<veltro::Error>();
    error->SubSystem = "DEMO";
    error->SubCode = 1;
    error->Description = "Something failed";
    veltro::raiseError(error);
    return 0;
  }
  if (argc > 1 && std::string(argv[1]) == "alert") {
    screen.clear();
    screen.writeAt(1, 1, "Behind the alert");
    int answer = 0;
    while (answer == 0) answer = screen.alert("Error DEMO/1  Something failed;(DOS Error 2)", {"Quit", "Retry", "Default"});
    screen.writeAt(2, 1, "Answer: " + std::to_string(answer) + " last key " + std::to_string(screen.lastKey()));
    screen.newLine();
    return 0;
  }

  std::vector<std::string> items = {"Method Update", "Build Sentence", "Method Save", "Sentence UPDATE"};
  int count = static_cast<int>(items.size());
  screen.clear();
  screen.box(1, 1, count + 2, 31);
  int option = screen.menu(2, 2, count + 1, 30, items);
  screen.clear();
  if (screen.lastKey() == veltro::keycode::Esc) return 0;

  screen.writeAt(1, 1, "How many records?");
  veltro::Position at = screen.cursor();
  screen.setCursor(at.row, at.col + 1);
  int records = screen.numberField(100);
  if (screen.lastKey() == veltro::keycode::Esc) {
    screen.clear();
    return 0;
  }
  screen.writeAt(2, 1, "Chosen: " + items[option - 1]);
  screen.writeAt(3, 1, "Records: " + std::to_string(records));
  screen.newLine();
  return 0;
}

// Veltro: a console benchmark of four ways of updating rows of clientes.
#include <cstdio>
#include <string>
#include <vector>

#include "connect.h"
#include "updates.h"
#include "veltro/console.h"
#include "veltro/error.h"
#include "veltro/sqltext.h"
#include "veltro/value.h"

namespace veltro {

// Runs the program; returns its exit code, with failureText set when a
// connection failed (shown once the terminal is restored).
int MAIN(std::string& failureText) {
  Screen& scr = screen();
  setAlertConsole(&scr);
  setDateFormat("dd/mm/yyyy");
  Q_SETCASESENSITIVE(true);

  const std::vector<std::string>& menu = updateMethods();
  const int items = static_cast<int>(menu.size());
  long records = 100;

  scr.clear();
  scr.box(1, 1, items + 2, 31);
  int option = scr.menu(2, 2, items + 1, 30, menu);
  scr.clear();
  if (scr.lastKey() == keycode::Esc) return 0;

  scr.writeAt(1, 1, "How many records?");
  Position at = scr.cursor();
  scr.setCursor(at.row, at.col + 1);
  records = scr.numberField(static_cast<int>(records));
  if (scr.lastKey() == keycode::Esc) {
    scr.clear();
    return 0;
  }

  // A failed connection is a failure: reported and exit code 1, not a quiet end.
  ServerPtr server = CONNECTTO(failureText);
  if (!server) return 1;
  UPDATES(server, option, records, menu, scr);
  server->End();
  return 0;
}

}  // namespace veltro

int main() {
  std::string failure;
  const int code = veltro::MAIN(failure);
  veltro::screen().shutdown();
  if (!failure.empty()) std::fprintf(stderr, "%s\n", failure.c_str());
  return code;
}

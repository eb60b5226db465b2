// Veltro: a console benchmark of four ways of updating rows of clientes.
#include <string>
#include <vector>

#include "connect.h"
#include "updates.h"
#include "veltro/console.h"
#include "veltro/error.h"
#include "veltro/sqltext.h"
#include "veltro/value.h"

namespace veltro {

void MAIN() {
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
  if (scr.lastKey() == keycode::Esc) return;

  scr.writeAt(1, 1, "How many records?");
  Position at = scr.cursor();
  scr.setCursor(at.row, at.col + 1);
  records = scr.numberField(static_cast<int>(records));
  if (scr.lastKey() == keycode::Esc) {
    scr.clear();
    return;
  }

  ServerPtr server = CONNECTTO();
  if (!server) return;
  UPDATES(server, option, records, menu, scr);
  server->End();
}

}  // namespace veltro

int main() {
  veltro::MAIN();
  veltro::screen().shutdown();
  return 0;
}
